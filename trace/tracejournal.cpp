#include "tracejournal.h"

#include "durableappend.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QMutexLocker>

namespace {

// Long enough for another program's append, flush included; short enough that an
// action is not held up for long by a lock that will not come.
constexpr int lockTimeoutMs = 10000;

} // namespace

TraceJournal::TraceJournal(QString directory)
    : dir(std::move(directory))
{
}

void TraceJournal::loadWrittenCpuIds()
{
    const QMutexLocker locker(&mutex);
    written.addDirectory(dir);
}

std::optional<QString> TraceJournal::cpuIdWrittenAt(const QString &cpuId) const
{
    const QMutexLocker locker(&mutex);
    return written.writtenAt(cpuId);
}

bool TraceJournal::append(TraceRecord &record)
{
    const QMutexLocker locker(&mutex);
    const QDate day = QDateTime::fromString(record.time, Qt::ISODateWithMs).toLocalTime().date();
    if (!day.isValid() || !QDir().mkpath(dir))
        return false;
    const QString path = QDir(dir).filePath(Trace::fileNameFor(day));
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(lockTimeoutMs))
        return false;

    const bool created = !QFile::exists(path);
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

std::optional<TraceJournal::ChainEnd> TraceJournal::readChainEnd(QFile &file)
{
    const qint64 size = file.size();
    ChainEnd end;
    if (size == 0)
        return end;
    // Read from the end in growing pieces until a complete record is found: usually
    // the last line, further back only past lines cut off by a power loss.
    qint64 piece = 16 * 1024;
    while (true) {
        const qint64 from = qMax<qint64>(0, size - piece);
        if (!file.seek(from))
            return std::nullopt;
        const QByteArray tail = file.read(size - from);
        if (tail.size() != size - from)
            return std::nullopt;
        end.endsWithLineEnd = tail.endsWith('\n');
        // Lines from the last one on, the last one also when its line end was lost: a
        // complete record without it is still the end of the chain. The first line
        // read may have begun before the piece.
        qsizetype lineEnd = end.endsWithLineEnd ? tail.size() - 1 : tail.size();
        while (lineEnd >= 0) {
            const qsizetype lineStart = lineEnd == 0 ? 0 : tail.lastIndexOf('\n', lineEnd - 1) + 1;
            if (lineStart == 0 && from > 0)
                break;
            const QByteArrayView line = QByteArrayView(tail).sliced(lineStart, lineEnd - lineStart);
            const ParsedTraceLine parsed = Trace::parseLine(line);
            if (parsed.record) {
                end.seq = parsed.record->seq;
                end.prev = Trace::sha256Hex(line);
                return end;
            }
            lineEnd = lineStart - 1;
        }
        if (from == 0)
            return end;
        piece *= 4;
    }
}
