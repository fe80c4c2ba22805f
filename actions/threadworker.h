#pragma once

#include "runaction.h"
#include "tracejournal.h"

#include <QObject>
#include <QString>

class LineStation;
class TraceJournal;

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
    // Has every run recorded in the journal, from the fields known at launch (station,
    // tool, plug-in, board) and what the run found; the guard asks the same journal.
    void setTrace(TraceJournal *journal, TraceRecord launchFields, DuplicateCpuIdGuard guard);
    // With a line database, the guard claims the CPU id line-wide too, and each record is
    // uploaded once the trace has it.
    void setLineStation(LineStation *station) { lineStation = station; }

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
    // Claims the run's CPU id when the guard is on: the final line of a refusal, or
    // nothing when the action may go on.
    std::optional<FinalLine> claimCpuId();
    // The line-wide claim, after the trace's own has let the action go on; warned: the
    // operator has already been told the CPU id was written.
    std::optional<FinalLine> claimOnLine(bool warned);
    void recordTrace(const QString &level, qint64 durationMs);

    RunAction_T action = RunAction_T(0);
    qint32 exitCode = 0;
    QString plainFile;
    QString keyFile;
    quint8 keyIndex = 0;
    TraceJournal *traceJournal = nullptr;
    LineStation *lineStation = nullptr;
    DuplicateCpuIdGuard duplicateGuard = DuplicateCpuIdGuard::Off;
    TraceRecord traceLaunchFields;
    // The record of the current run, filled in as its steps find things out.
    TraceRecord traceRecord;
    // Set from the device write's call on: the board may carry the run's data.
    bool boardWriteAttempted = false;
};
