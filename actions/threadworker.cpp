#include "threadworker.h"

#include "exitcodes.h"
#include "tracejournal.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>

ThreadWorker::ThreadWorker()
{
    // Before any worker exists no signal carrying a level can be queued.
    static const int registered = qRegisterMetaType<RunAction_T>("RunAction_T");
    Q_UNUSED(registered);
}

void ThreadWorker::setParams(QString plainFile, QString keyFile, quint8 keyIndex)
{
    this->plainFile = std::move(plainFile);
    this->keyFile = std::move(keyFile);
    this->keyIndex = keyIndex;
}

void ThreadWorker::setAction(RunAction_T level)
{
    action = level;
}

RunAction ThreadWorker::getAction() const
{
    return action;
}

int ThreadWorker::getExitCode() const
{
    return exitCode;
}

void ThreadWorker::setTrace(TraceJournal *journal, TraceRecord launchFields, DuplicateCpuIdGuard guard)
{
    traceJournal = journal;
    traceLaunchFields = std::move(launchFields);
    duplicateGuard = guard;
}

void ThreadWorker::process()
{
    QElapsedTimer clock;
    clock.start();
    traceRecord = traceLaunchFields;
    traceRecord.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    const char *closingLog = nullptr;
    FinalLine last;
    switch (action) {
    case RUN_ACTION_BASIC:
        last = basicAction();
        closingLog = "basic action out";
        break;
    case RUN_ACTION_MIDDLE:
        last = middleAction();
        closingLog = "middle action out";
        break;
    case RUN_ACTION_HIGH:
        last = highAction();
        closingLog = "high action out";
        break;
    default:
        exitCode = ExitCode::InvalidLevel;
        qDebug() << "invalid action:" << static_cast<qint32>(action);
        last = { tr("invalid action"), true };
        break;
    }
    emit update_process(last.text, last.error);
    // An action of no level is none to record.
    if (traceJournal && closingLog)
        recordTrace(levelName(action), clock.elapsed());
    if (closingLog)
        qDebug() << closingLog;
    emit finished();
}

ThreadWorker::FinalLine ThreadWorker::fail(qint32 code, const QString &line)
{
    exitCode = code;
    return { line, true };
}

std::optional<QString> ThreadWorker::duplicateWrittenAt(const QString &cpuId) const
{
    if (!traceJournal || duplicateGuard == DuplicateCpuIdGuard::Off)
        return std::nullopt;
    return traceJournal->cpuIdWrittenAt(cpuId);
}

void ThreadWorker::recordTrace(const QString &level, qint64 durationMs)
{
    traceRecord.level = level;
    traceRecord.exitCode = exitCode;
    traceRecord.durationMs = durationMs;
    // The board has been written whatever happens here: the exit code stays.
    if (!traceJournal->append(traceRecord)) {
        qDebug() << "failed to write trace";
        emit update_process(tr("write trace...fail"), true);
    }
}
