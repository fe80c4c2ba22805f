#include "actiontrace.h"

#include "runchecks.h"
#include "threadworker.h"

ActionTrace::ActionTrace(const QString &directory, TraceRecord origin, DuplicateCpuIdGuard guard)
    : journal(directory)
    , origin(std::move(origin))
    , guard(guard)
{
    journal.loadWrittenCpuIds();
}

void ActionTrace::setPlugin(const QString &pluginPath)
{
    Trace::setPlugin(origin, pluginPath);
}

void ActionTrace::attach(ThreadWorker &worker, const QString &deviceStatus)
{
    TraceRecord launchFields = origin;
    launchFields.board = boardOf(deviceStatus);
    worker.setTrace(&journal, launchFields, guard);
}
