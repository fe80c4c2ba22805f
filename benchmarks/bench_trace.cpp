// The trace's two costs: one record per action, appended to a day file that already
// holds a busy day's records and flushed to the disk before the action's result is
// shown; and the index of written CPU ids built at start from 100,000 records in 30
// day files. Everything is written in a temporary directory beside this executable,
// in the build tree, so the flush reaches the build's disk (a temporary directory of
// the system may live in memory); a directory given as the argument is used instead.

#include "fileappend.h"
#include "median.h"
#include "tracejournal.h"
#include "tracerecord.h"
#include "writtencpuids.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr int appendCount = 200;
constexpr int recordsBeforeAppends = 3000;
constexpr int indexRecords = 100000;
constexpr int indexDays = 30;
constexpr int indexRuns = 11;
constexpr double indexGoalMs = 100;

const QDate firstDay(2024, 3, 1);

double milliseconds(qint64 nanoseconds)
{
    return double(nanoseconds) / 1e6;
}

// The fields a window on a bench PC gives every record it launches.
TraceRecord launchFields()
{
    TraceRecord record;
    record.station = QStringLiteral("LINE2-BENCH07");
    record.tool = QStringLiteral("Korvane 1.0.0");
    record.plugin = QStringLiteral("korvane_aes.dll");
    record.pluginSha256 = Trace::sha256Hex("korvane_aes.dll of the bench");
    record.board = QStringLiteral("Loader");
    return record;
}

// A distinct 16-byte id for each number, as the OTP area gives it.
QString cpuIdFor(quint64 number)
{
    return Trace::sha256Hex(QByteArray::number(number)).left(32);
}

// The UTC time of an action started at the given local time, as the worker writes it.
QString utcTime(QDate localDay, QTime localTime)
{
    return QDateTime(localDay, localTime).toUTC().toString(Qt::ISODateWithMs);
}

// A successful Basic action on a new board: the record most lines of a trace hold.
TraceRecord basicSuccess(const TraceRecord &origin, quint64 board, const QString &time)
{
    TraceRecord record = origin;
    record.time = time;
    record.level = QStringLiteral("basic");
    record.cpuId = cpuIdFor(board);
    record.keyFingerprint = Trace::keyFingerprint("basic key of the line");
    record.durationMs = 1400;
    return record;
}

// Appends records to a day file the way the journal chains them, without its lock and
// flush, to build large traces quickly.
class ChainWriter
{
public:
    explicit ChainWriter(const QString &path)
        : file(path)
    {
    }
    bool open() { return file.open(QIODevice::WriteOnly | QIODevice::Truncate); }
    bool write(TraceRecord &record)
    {
        record.seq = ++seq;
        record.prev = prev;
        const QByteArray line = Trace::formatLine(record);
        prev = Trace::sha256Hex(line);
        return file.write(line + '\n') == line.size() + 1;
    }

private:
    QFile file;
    qint64 seq = 0;
    QString prev = Trace::firstPrev;
};

struct Spread
{
    double medianMs = 0;
    double worstMs = 0;
};

Spread spreadOf(const std::vector<double> &values)
{
    return { median(values), values.empty() ? 0 : *std::max_element(values.begin(), values.end()) };
}

// The journal's own way to the end of a file's chain in its usual case: the last
// 16 KiB read, the last line checked and hashed.
std::optional<qint64> lastSeq(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    const qint64 from = qMax<qint64>(0, size - 16 * 1024);
    if (!file.seek(from))
        return std::nullopt;
    const QByteArray tail = file.read(size - from);
    const qsizetype lineEnd = tail.size() - 1;
    const qsizetype lineStart = tail.lastIndexOf('\n', lineEnd - 1) + 1;
    const QByteArrayView line = QByteArrayView(tail).sliced(lineStart, lineEnd - lineStart);
    const ParsedTraceLine parsed = Trace::parseLine(line);
    if (!parsed.record || Trace::sha256Hex(line).isEmpty())
        return std::nullopt;
    return parsed.record->seq;
}

bool benchAppend(const QString &directory)
{
    const TraceRecord origin = launchFields();
    const QDate day = firstDay;
    const QString path = QDir(directory).filePath(Trace::fileNameFor(day));
    {
        ChainWriter writer(path);
        if (!writer.open())
            return false;
        for (int i = 0; i < recordsBeforeAppends; ++i) {
            TraceRecord record = basicSuccess(origin, quint64(i), utcTime(day, QTime(7, 0).addSecs(i * 5)));
            if (!writer.write(record))
                return false;
        }
    }

    TraceJournal journal(directory);
    journal.loadWrittenCpuIds();
    const QString time = utcTime(day, QTime(12, 0));
    std::vector<double> appends;
    for (int i = 0; i < appendCount; ++i) {
        TraceRecord record = basicSuccess(origin, quint64(recordsBeforeAppends + i), time);
        QElapsedTimer clock;
        clock.start();
        const bool appended = journal.append(record);
        const qint64 elapsed = clock.nsecsElapsed();
        if (!appended) {
            std::fprintf(stderr, "append %d failed\n", i);
            return false;
        }
        appends.push_back(milliseconds(elapsed));
    }
    // With the duplicate guard on, a Basic action first claims its board's CPU id; its
    // record then settles the claim.
    std::vector<double> guarded;
    for (int i = 0; i < appendCount; ++i) {
        TraceRecord record = basicSuccess(origin, quint64(recordsBeforeAppends + appendCount + i), time);
        QElapsedTimer clock;
        clock.start();
        const bool claimed = journal.claim(record).outcome == CpuIdClaim::Outcome::Claimed;
        const bool appended = claimed && journal.append(record);
        const qint64 elapsed = clock.nsecsElapsed();
        if (!appended) {
            std::fprintf(stderr, "guarded record %d failed\n", i);
            return false;
        }
        guarded.push_back(milliseconds(elapsed));
    }
    const std::optional<qint64> seq = lastSeq(path);
    if (seq != recordsBeforeAppends + 2 * appendCount) {
        std::fprintf(stderr, "the chain ends at seq %lld, not %d\n", static_cast<long long>(seq.value_or(-1)),
            recordsBeforeAppends + 2 * appendCount);
        return false;
    }

    // The parts of an append, each on its own: the line, the lock (Qt flushes a new lock
    // file to the disk too), the way to the end of the chain, and the write with its
    // flush (into a file of its own).
    std::vector<double> formats, locks, tails, flushes;
    TraceRecord sample = basicSuccess(origin, 0, time);
    sample.seq = recordsBeforeAppends;
    sample.prev = Trace::firstPrev;
    QFile scratch(QDir(directory).filePath(QStringLiteral("scratch.jsonl")));
    if (!scratch.open(QIODevice::ReadWrite))
        return false;
    for (int i = 0; i < appendCount; ++i) {
        QElapsedTimer clock;
        clock.start();
        const QByteArray line = Trace::formatLine(sample) + '\n';
        formats.push_back(milliseconds(clock.nsecsElapsed()));

        clock.restart();
        {
            QLockFile lock(QDir(directory).filePath(QStringLiteral("trace.lock")));
            if (!lock.tryLock(10000))
                return false;
        }
        locks.push_back(milliseconds(clock.nsecsElapsed()));

        clock.restart();
        if (!lastSeq(path))
            return false;
        tails.push_back(milliseconds(clock.nsecsElapsed()));

        clock.restart();
        if (!appendDurably(scratch, line))
            return false;
        flushes.push_back(milliseconds(clock.nsecsElapsed()));
    }

    // The first append of a program also pays for what Qt sets up once, such as the time
    // zone: told apart from the steady ones.
    const double firstAppend = appends.front();
    const Spread append = spreadOf(std::vector<double>(appends.begin() + 1, appends.end()));
    const Spread format = spreadOf(formats);
    const Spread lock = spreadOf(locks);
    const Spread tail = spreadOf(tails);
    const Spread flush = spreadOf(flushes);
    const Spread claimAndRecord = spreadOf(guarded);
    std::printf("append, %d records onto %d, flush included: median %7.3f ms, worst %7.3f ms after the first, %.3f ms\n",
        appendCount, recordsBeforeAppends, append.medianMs, append.worstMs, firstAppend);
    std::printf("  line formatted:                 median %7.3f ms, worst %7.3f ms\n", format.medianMs,
        format.worstMs);
    std::printf("  lock file taken and freed:      median %7.3f ms, worst %7.3f ms\n", lock.medianMs, lock.worstMs);
    std::printf("  chain end read (16 KiB tail):   median %7.3f ms, worst %7.3f ms\n", tail.medianMs, tail.worstMs);
    std::printf("  line written and flushed:       median %7.3f ms, worst %7.3f ms\n", flush.medianMs,
        flush.worstMs);
    std::printf("claim, record and settling, guarded Basic: median %7.3f ms, worst %7.3f ms\n",
        claimAndRecord.medianMs, claimAndRecord.worstMs);
    return true;
}

// 100,000 records over 30 days: mostly new boards written at Basic level, some boards
// written again, some failures, some Middle and High actions. Gives each id a
// successful Basic action wrote with the time of its first such record: what the
// index must hold.
std::optional<QHash<QString, QString>> writeTrace(const QString &directory)
{
    const TraceRecord origin = launchFields();
    QRandomGenerator random(20240301);
    QHash<QString, QString> firstTimes;
    quint64 nextBoard = 0;
    const int perDay = indexRecords / indexDays;
    for (int dayIndex = 0; dayIndex < indexDays; ++dayIndex) {
        const QDate day = firstDay.addDays(dayIndex);
        const int count = dayIndex + 1 < indexDays ? perDay : indexRecords - perDay * (indexDays - 1);
        ChainWriter writer(QDir(directory).filePath(Trace::fileNameFor(day)));
        if (!writer.open())
            return std::nullopt;
        for (int i = 0; i < count; ++i) {
            const QString time = utcTime(day, QTime(7, 0).addMSecs(i * 8123));
            const quint32 kind = random.bounded(100);
            TraceRecord record;
            if (kind < 80) {
                record = basicSuccess(origin, nextBoard++, time);
            } else if (kind < 84) {
                // A board written again, on another day or the same.
                record = basicSuccess(origin, random.bounded(qMax<quint64>(nextBoard, 1)), time);
            } else if (kind < 90) {
                // The id was read, the board was not written.
                record = basicSuccess(origin, nextBoard++, time);
                record.exitCode = -3 - qint32(random.bounded(6));
            } else if (kind < 96) {
                record = origin;
                record.time = time;
                record.level = QStringLiteral("middle");
                record.dataSize = 512;
                record.dataSha256 = Trace::sha256Hex(QByteArray::number(i));
                record.durationMs = 2100;
            } else {
                record = origin;
                record.time = time;
                record.level = QStringLiteral("high");
                record.keyIndex = int(random.bounded(4));
                record.keyFingerprint = Trace::keyFingerprint("oem key");
                record.durationMs = 900;
            }
            if (record.level == QLatin1String("basic") && record.exitCode == 0 && !firstTimes.contains(*record.cpuId))
                firstTimes.insert(*record.cpuId, record.time);
            if (!writer.write(record))
                return std::nullopt;
        }
    }
    return firstTimes;
}

bool benchIndex(const QString &directory)
{
    QElapsedTimer writing;
    writing.start();
    const std::optional<QHash<QString, QString>> expected = writeTrace(directory);
    if (!expected)
        return false;
    const double writingMs = milliseconds(writing.nsecsElapsed());
    const QStringList files = Trace::filesIn(directory);
    qint64 bytes = 0;
    for (const QString &path : files)
        bytes += QFileInfo(path).size();
    std::printf("trace written: %d records in %lld files, %.1f MiB, in %.0f ms\n", indexRecords,
        static_cast<long long>(files.size()), double(bytes) / (1 << 20), writingMs);

    // The files were just written, so they are in the file cache for every run; one
    // run more than measured comes first all the same.
    std::vector<double> loads;
    for (int run = 0; run <= indexRuns; ++run) {
        QElapsedTimer clock;
        clock.start();
        TraceJournal journal(directory);
        journal.loadWrittenCpuIds();
        const qint64 elapsed = clock.nsecsElapsed();
        if (run > 0)
            loads.push_back(milliseconds(elapsed));
        if (run == 0) {
            // Every id with its first time, checked outside the time measured.
            for (auto id = expected->cbegin(); id != expected->cend(); ++id) {
                if (journal.cpuIdWrittenAt(id.key()) != id.value()) {
                    std::fprintf(stderr, "the index lacks %s of %s\n", qPrintable(id.key()), qPrintable(id.value()));
                    return false;
                }
            }
        }
    }
    // The journal does not tell its index's size: a bare index of the same files does.
    WrittenCpuIds index;
    index.refresh(directory);
    if (index.size() != expected->size()) {
        std::fprintf(stderr, "the index holds %lld ids, %lld were written\n", static_cast<long long>(index.size()),
            static_cast<long long>(expected->size()));
        return false;
    }
    const Spread load = spreadOf(loads);
    std::printf("index at start, file cache warm, %d runs: median %7.2f ms, worst %7.2f ms, %lld ids (goal: under "
                "%.0f ms)\n",
        indexRuns, load.medianMs, load.worstMs, static_cast<long long>(index.size()), indexGoalMs);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QString parent = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QCoreApplication::applicationDirPath();
    QTemporaryDir directory(QDir(parent).filePath(QStringLiteral("bench_trace-XXXXXX")));
    if (!directory.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory in %s\n", qPrintable(parent));
        return 1;
    }
    const QStorageInfo storage(directory.path());
    std::printf("directory %s, file system %s on %s\n", qPrintable(directory.path()),
        storage.fileSystemType().constData(), storage.device().constData());

    const QString appendDirectory = QDir(directory.path()).filePath(QStringLiteral("append"));
    const QString indexDirectory = QDir(directory.path()).filePath(QStringLiteral("index"));
    if (!QDir().mkpath(appendDirectory) || !QDir().mkpath(indexDirectory))
        return 1;
    if (!benchAppend(appendDirectory) || !benchIndex(indexDirectory))
        return 1;
    return 0;
}
