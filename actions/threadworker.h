#pragma once

#include "runaction.h"

#include <QObject>
#include <QString>

// Carries one proof action on its own thread and reports its steps.
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

signals:
    void actionChanged(RunAction newAction);
    void finished();
    void update_process(QString text, bool error);

public slots:
    void process();

private:
    RunAction_T action = RunAction_T(0);
    qint32 exitCode = 0;
    QString plainFile;
    QString keyFile;
    quint8 keyIndex = 0;
};
