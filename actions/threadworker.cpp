#include "threadworker.h"

#include "exitcodes.h"
#include "linestation.h"
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
    boardWriteAttempted = false;
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
    if (traceJournal && closingLog) {
        recordTrace(levelName(action), clock.elapsed());
        // Before the next action: the upload of this record settles its line-wide claim.
        if (lineStation)
            lineStation->uploadWaiting();
    }
    if (closingLog)
        qDebug() << closingLog;
    emit finished();
}

ThreadWorker::FinalLine ThreadWorker::fail(qint32 code, const QString &line)
{
    exitCode = code;
    return { line, true };
}

std::optional<ThreadWorker::FinalLine> ThreadWorker::claimCpuId()
{
    if (!traceJournal || duplicateGuard == DuplicateCpuIdGuard::Off)
        return std::nullopt;
    const bool refuse = duplicateGuard == DuplicateCpuIdGuard::Refuse;
    const CpuIdClaim claim = traceJournal->claim(traceRecord);
    switch (claim.outcome) {
    case CpuIdClaim::Outcome::Claimed:
        return claimOnLine(false);
    case CpuIdClaim::Outcome::AlreadyWritten:
        if (refuse) {
            qDebug() << "cpuid already written";
            return fail(ExitCode::DuplicateCpuId, tr("check cpuid...fail"));
        }
        emit update_process(tr("cpuid already written at %1").arg(claim.time), true);
        return claimOnLine(true);
    case CpuIdClaim::Outcome::InDoubt:
        qDebug() << "cpuid in doubt";
        emit update_process(tr("cpuid in doubt since %1 on %2").arg(claim.time, claim.station), true);
        if (refuse)
            return fail(ExitCode::DuplicateCpuId, tr("check cpuid...fail"));
        return claimOnLine(false);
    case CpuIdClaim::Outcome::Unavailable:
        qDebug() << "trace not writable";
        if (refuse)
            return fail(ExitCode::TraceNotWritable, tr("check trace...fail"));
        return claimOnLine(false);
    }
    return std::nullopt;
}

std::optional<ThreadWorker::FinalLine> ThreadWorker::claimOnLine(bool warned)
{
    if (!lineStation)
        return std::nullopt;
    const bool refuse = duplicateGuard == DuplicateCpuIdGuard::Refuse;
    // With warn the claim is taken even on a written CPU id: the second write is then
    // settled, and seen, like any other.
    const LineClaim claim = lineStation->claim(traceRecord, !refuse);
    switch (claim.outcome) {
    case LineClaim::Outcome::Claimed:
        return std::nullopt;
    case LineClaim::Outcome::AlreadyWritten:
        if (refuse)
            qDebug() << "cpuid already written";
        if (refuse || !warned)
            emit update_process(tr("cpuid already written at %1 on %2").arg(claim.time, claim.station), true);
        if (refuse)
            return fail(ExitCode::DuplicateCpuId, tr("check cpuid...fail"));
        return std::nullopt;
    case LineClaim::Outcome::InDoubt:
        qDebug() << "cpuid in doubt";
        emit update_process(tr("cpuid in doubt since %1 on %2").arg(claim.time, claim.station), true);
        if (refuse)
            return fail(ExitCode::DuplicateCpuId, tr("check cpuid...fail"));
        return std::nullopt;
    case LineClaim::Outcome::Unreachable:
        qDebug().noquote() << "line database unreachable:" << claim.reason;
        if (lineStation->offlinePolicy() == LineOfflinePolicy::Refuse)
            return fail(ExitCode::LineDatabaseUnreachable, tr("check line database...fail"));
        return std::nullopt;
    }
    return std::nullopt;
}

void ThreadWorker::recordTrace(const QString &level, qint64 durationMs)
{
    traceRecord.level = level;
    traceRecord.exitCode = exitCode;
    traceRecord.durationMs = durationMs;
    // The board has been written whatever happens here: the exit code stays.
    if (!traceJournal->append(traceRecord, boardWriteAttempted)) {
        qDebug() << "failed to write trace";
        emit update_process(tr("write trace...fail"), true);
    }
}
