#include "tracejournal.h"

#include "fileappend.h"
#include "levels.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMutexLocker>

namespace {

// Long enough for another program's append, flush included; short enough that an
// action is not held up for long by a lock that will not come.
constexpr int lockTimeoutMs = 10000;

// One lock for the whole directory: a claim checks the records of every day file, and
// must not interleave with another program's append and settling.
QString lockPathOf(const QString &directory)
{
    return QDir(directory).filePath(QStringLiteral("trace.lock"));
}

} // namespace

TraceJournal::TraceJournal(QString directory)
    : dir(std::move(directory))
{
}

void TraceJournal::loadWrittenCpuIds()
{
    const QMutexLocker locker(&mutex);
    written.refresh(dir);
    const QList<TraceClaim> claims = TraceClaims::all(dir);
    // Start-up does not wait for another program: a claim left now is settled at its
    // CPU id's next check.
    QLockFile lock(lockPathOf(dir));
    if (claims.isEmpty() || !lock.tryLock(0))
        return;
    // Claims left by a program that died after its record are settled by that record.
    for (const TraceClaim &claim : claims) {
        if (exitCodeOfClaim(claim))
            removeClaimOf(claim.cpuId, claim.since);
    }
}

std::optional<QString> TraceJournal::cpuIdWrittenAt(const QString &cpuId) const
{
    const QMutexLocker locker(&mutex);
    return written.writtenAt(cpuId);
}

CpuIdClaim TraceJournal::claim(const TraceRecord &record)
{
    using Outcome = CpuIdClaim::Outcome;
    const QMutexLocker locker(&mutex);
    // An empty id names no board, so there is nothing to guard.
    if (!record.cpuId || record.cpuId->isEmpty())
        return { Outcome::Claimed, {}, {} };
    const QString &cpuId = *record.cpuId;
    const QString dayFile = dayFileOf(record.time);
    if (dayFile.isEmpty() || !QDir().mkpath(dir))
        return {};
    QLockFile lock(lockPathOf(dir));
    if (!lock.tryLock(lockTimeoutMs))
        return {};

    // Other programs append to the file of their action's day: today's, or yesterday's
    // around midnight.
    const QDateTime start = QDateTime::fromString(record.time, Qt::ISODateWithMs);
    written.refreshFiles({ dayFile, dayFileOf(start.addDays(-1).toString(Qt::ISODateWithMs)) });
    if (const std::optional<QString> time = written.writtenAt(cpuId))
        return { Outcome::AlreadyWritten, *time, {} };
    if (const std::optional<TraceClaim> existing = TraceClaims::read(dir, cpuId)) {
        const std::optional<qint32> exitCode = exitCodeOfClaim(*existing);
        if (!exitCode)
            return { Outcome::InDoubt, existing->since, existing->station };
        // Its program wrote the record but did not live to settle the claim.
        if (!TraceClaims::remove(dir, cpuId))
            return {};
        if (*exitCode == 0)
            return { Outcome::AlreadyWritten, existing->since, {} };
    }
    // A board is written only when its record can follow.
    if (!dayFileWritable(dayFile))
        return {};
    switch (TraceClaims::create(dir, TraceClaims::ownClaim(cpuId, record.time, record.station))) {
    case TraceClaims::Creation::Created:
        heldClaims.insert(cpuId, record.time);
        return { Outcome::Claimed, {}, {} };
    case TraceClaims::Creation::Exists:
        // Made by a program that does not take the lock (on another computer).
        if (const std::optional<TraceClaim> other = TraceClaims::read(dir, cpuId))
            return { Outcome::InDoubt, other->since, other->station };
        return {};
    case TraceClaims::Creation::Failed:
        break;
    }
    return {};
}

bool TraceJournal::append(TraceRecord &record, bool boardMayBeWritten)
{
    const QMutexLocker locker(&mutex);
    const QString path = dayFileOf(record.time);
    QLockFile lock(lockPathOf(dir));
    const bool locked = !path.isEmpty() && QDir().mkpath(dir) && lock.tryLock(lockTimeoutMs);
    const bool appended = locked && appendLocked(record, path);
    settle(record, appended, boardMayBeWritten);
    return appended;
}

bool TraceJournal::appendLocked(TraceRecord &record, const QString &path)
{
    const bool created = !QFileInfo::exists(path) && !QFileInfo(path).isSymLink();
    // Never opened when it is a pipe or a device: that could block for good.
    if (!created && !QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const std::optional<ChainEnd> end = readChainEnd(file);
    if (!end)
        return false;
    record.seq = end->seq + 1;
    record.prev = end->prev;
    // A line cut off by a power loss stays as it is; the record starts a line of its own.
    const QByteArray line = (end->endsWithLineEnd ? QByteArray() : QByteArray("\n")) + Trace::formatLine(record) + '\n';
    if (!appendDurably(file, line) || (created && !syncDirectory(dir)))
        return false;
    written.add(record);
    return true;
}

void TraceJournal::settle(const TraceRecord &record, bool appended, bool boardMayBeWritten)
{
    if (!record.cpuId || record.cpuId->isEmpty())
        return;
    const QString &cpuId = *record.cpuId;
    const auto held = heldClaims.constFind(cpuId);
    if (held != heldClaims.constEnd() && *held == record.time) {
        heldClaims.erase(held);
        // Without its record, the claim alone says the board may have been written.
        if (appended || !boardMayBeWritten)
            removeClaimOf(cpuId, record.time);
    } else if (!appended && boardMayBeWritten && Levels::parse(record.level) == Levels::basic) {
        // No claim and no record keep this board from being written again: this program
        // at least remembers it.
        written.insert(cpuId, record.time);
    }
}

void TraceJournal::removeClaimOf(const QString &cpuId, const QString &since)
{
    // Only that action's claim: a later one for the same board is another action's.
    const std::optional<TraceClaim> claim = TraceClaims::read(dir, cpuId);
    if (claim && claim->since == since)
        TraceClaims::remove(dir, cpuId);
}

TraceJournal::Release TraceJournal::release(const QString &cpuId, const QString &by, const QString &reason)
{
    const QMutexLocker locker(&mutex);
    QLockFile lock(lockPathOf(dir));
    if (!QFileInfo(dir).isDir() || !lock.tryLock(lockTimeoutMs))
        return Release::Failed;
    const std::optional<TraceClaim> claim = TraceClaims::read(dir, cpuId);
    if (!claim)
        return Release::NoClaim;
    // A running action settles its claim itself; released now, its board could be
    // written twice.
    if (!exitCodeOfClaim(*claim) && TraceClaims::ownerMayBeRunning(*claim))
        return Release::OwnerRunning;
    TraceRelease release;
    release.claim = *claim;
    release.released = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    release.by = by;
    release.reason = reason;
    // Kept before the claim goes, so that no release is ever without its reason.
    if (!TraceClaims::appendRelease(dir, release) || !TraceClaims::remove(dir, cpuId))
        return Release::Failed;
    return Release::Released;
}

QString TraceJournal::dayFileOf(const QString &time) const
{
    const QDate day = Trace::localDateOf(time);
    return day.isValid() ? QDir(dir).filePath(Trace::fileNameFor(day)) : QString();
}

bool TraceJournal::dayFileWritable(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    QFile file(path);
    return info.isFile() && file.open(QIODevice::ReadOnly) && readChainEnd(file).has_value();
}

std::optional<qint32> TraceJournal::exitCodeOfClaim(const TraceClaim &claim) const
{
    const QDate day = Trace::localDateOf(claim.since);
    if (!day.isValid())
        return std::nullopt;
    const QString path = QDir(dir).filePath(Trace::fileNameFor(day));
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray content = file.readAll();
    const QByteArray timeToken = ",\"time\":" + Trace::jsonString(claim.since) + ',';
    // The last such record: a record of the same start written twice cannot be told apart.
    std::optional<qint32> exitCode;
    for (const QByteArrayView line : Trace::lines(content)) {
        if (!line.contains(timeToken))
            continue;
        const ParsedTraceLine parsed = Trace::parseLine(line);
        if (parsed.record && Levels::parse(parsed.record->level) == Levels::basic && parsed.record->cpuId == claim.cpuId
            && parsed.record->station == claim.station)
            exitCode = parsed.record->exitCode;
    }
    return exitCode;
}

std::optional<TraceJournal::ChainEnd> TraceJournal::readChainEnd(QFile &file)
{
    const qint64 size = file.size();
    ChainEnd end;
    if (size == 0)
        return end;
    // Read from the end in growing pieces until a complete record is found: usually the
    // last line, further back only past lines cut off by a power loss, and never further
    // than maxTailRead, so that a file ending in a mass of damage cannot hold the lock.
    qint64 piece = 16 * 1024;
    while (true) {
        piece = qMin(piece, maxTailRead);
        const qint64 from = qMax<qint64>(0, size - piece);
        if (!file.seek(from))
            return std::nullopt;
        const QByteArray tail = file.read(size - from);
        if (tail.size() != size - from)
            return std::nullopt;
        end.endsWithLineEnd = tail.endsWith('\n');
        // The first line read may have begun before the piece: it is not looked at.
        const qsizetype firstLineEnd = from == 0 ? -1 : tail.indexOf('\n');
        Trace::Lines split;
        if (from == 0)
            split = Trace::splitLines(tail);
        else if (firstLineEnd >= 0)
            split = Trace::splitLines(QByteArrayView(tail).sliced(firstLineEnd + 1));
        const QList<QByteArrayView> &lines = split.lines;
        // A byte order mark belongs at the start of a file only; elsewhere it is damage.
        const bool damagedFirstLine = from > 0 && split.byteOrderMark;
        for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
            if (damagedFirstLine && line == std::prev(lines.crend()))
                return std::nullopt;
            const ParsedTraceLine parsed = Trace::parseLine(*line);
            if (parsed.record) {
                end.seq = parsed.record->seq;
                end.prev = Trace::sha256Hex(*line);
                return end;
            }
            // Anything but a record cut short is damage that someone must look at.
            if (!Trace::isCutOffLine(*line))
                return std::nullopt;
        }
        if (from == 0)
            return end;
        if (piece == maxTailRead)
            return std::nullopt;
        piece *= 4;
    }
}
