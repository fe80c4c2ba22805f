#pragma once

#include "tracejournal.h"
#include "tracerecord.h"

#include <QString>

class ThreadWorker;

// The trace of one program's actions: the journal of the trace directory, with its index
// of written CPU ids read once here, the fields every record shares and the duplicate
// CPU-id guard. Exists only while "TRACE" is on.
class ActionTrace
{
public:
    // origin: the station and the tool.
    ActionTrace(const QString &directory, TraceRecord origin, DuplicateCpuIdGuard guard);
    Q_DISABLE_COPY_MOVE(ActionTrace)

    // The plug-in that the records from now on name.
    void setPlugin(const QString &pluginPath);
    // Has the worker record its runs, on the board the status text names at launch.
    void attach(ThreadWorker &worker, const QString &deviceStatus);

private:
    TraceJournal journal;
    TraceRecord origin;
    const DuplicateCpuIdGuard guard;
};
