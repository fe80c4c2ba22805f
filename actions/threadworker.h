#pragma once

#include "runaction.h"

#include <QObject>
#include <QString>

// Carries one proof action on its own thread and reports its steps. process() can
// also be called directly: the procedures need only the device library and the
// plug-in entry table.
class ThreadWorker : public QObject
{
    Q_OBJECT
    Q_PROPERTY(RunAction Action READ getAction WRITE setAction NOTIFY actionChanged)
    Q_PROPERTY(int ExitCode READ getExitCode CONSTANT)

public:
    ThreadWorker();

    void setParams(QString plainFile, QString keyFile, quint8 keyIndex);
    void setAction(RunAction_T level);
    RunAction getAction() const;
    int getExitCode() const;
    // A launch starts every worker from exit code 0.
    void resetExitCode() { exitCode = 0; }

signals:
    void actionChanged(RunAction newAction);
    void finished();
    void update_process(QString text, bool error);

public slots:
    void process();

private:
    // The last progress line of a run: the done line, or the fail line of the failure that ended it.
    struct FinalLine
    {
        QString text;
        bool error = false;
    };

    FinalLine basicAction();
    FinalLine middleAction();
    FinalLine highAction();
    FinalLine fail(qint32 code, const QString &line);
    void progress(const QString &text) { emit update_process(text, false); }

    RunAction_T action = RunAction_T(0);
    qint32 exitCode = 0;
    QString plainFile;
    QString keyFile;
    quint8 keyIndex = 0;
};
