// Arbitrary bytes as a trace file that a power loss, a disk fault or a hand may have
// damaged. Besides what the sanitizers catch: a line the reader accepts must format back
// to itself; the start-up index, which scans without parsing, must know every CPU id of
// a successful Basic record the reader accepts; and the next record must be appended, on
// a line of its own, chained to the last complete record, exactly when nothing but lines
// cut short follow that record.

#include "fuzzrequire.h"
#include "tracejournal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

namespace {

const QString recordTime = QStringLiteral("2024-03-05T12:00:00.000Z");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir directory;
    require(directory.isValid(), "no temporary directory");
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString path
        = directory.filePath(Trace::fileNameFor(QDateTime::fromString(recordTime, Qt::ISODateWithMs).toLocalTime().date()));
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size(),
        "cannot write the trace file");
    file.close();

    // The last line that is a complete record, as the journal must chain to it, unless a
    // line after it is neither a record nor one cut short: damage the journal refuses.
    std::optional<TraceRecord> last;
    QByteArray lastLine;
    bool damagedAfterLast = false;
    QStringList writtenIds;
    for (const QByteArrayView line : Trace::lines(content)) {
        const ParsedTraceLine parsed = Trace::parseLine(line);
        if (!parsed.record) {
            damagedAfterLast = damagedAfterLast || !Trace::isCutOffLine(line);
            continue;
        }
        require(Trace::formatLine(*parsed.record) == line, "an accepted line does not format back to itself");
        last = parsed.record;
        lastLine = line.toByteArray();
        damagedAfterLast = false;
        if (parsed.record->level == QLatin1String("basic") && parsed.record->exitCode == 0
            && parsed.record->cpuId && !parsed.record->cpuId->isEmpty())
            writtenIds.append(*parsed.record->cpuId);
    }

    TraceJournal journal(directory.path());
    journal.loadWrittenCpuIds();
    for (const QString &cpuId : writtenIds)
        require(journal.cpuIdWrittenAt(cpuId).has_value(), "the index misses a written CPU id");

    TraceRecord next;
    next.time = recordTime;
    next.level = QStringLiteral("basic");
    next.board = QStringLiteral("Loader");
    next.cpuId = QStringLiteral("00ff");
    const bool appended = journal.append(next, false);
    require(appended == !damagedAfterLast, appended ? "appended after damage" : "the next record was not appended");
    if (!appended)
        return 0;
    require(next.seq == (last ? last->seq + 1 : 1), "the next record's seq does not follow");
    require(next.prev == (last ? Trace::sha256Hex(lastLine) : Trace::firstPrev), "the next record is not chained");
    require(file.open(QIODevice::ReadOnly), "cannot read the trace file back");
    const QByteArray after = file.readAll();
    const QByteArray separator = content.isEmpty() || content.endsWith('\n') ? QByteArray() : QByteArray("\n");
    require(after == content + separator + Trace::formatLine(next) + '\n', "the file was not appended to as it was");
    return 0;
}
