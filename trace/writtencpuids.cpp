#include "writtencpuids.h"

#include "levels.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <string>
#include <string_view>

namespace {

// Where a token first occurs in a line, or -1. Qt's search on lines this short hashes
// every byte; the standard one skips with memchr from one first character of the token
// to the next, which halves the time start-up takes over a large trace.
qsizetype firstIndexOf(QByteArrayView line, std::string_view token)
{
    const std::size_t at = std::string_view(line.data(), std::size_t(line.size())).find(token);
    return at == std::string_view::npos ? -1 : qsizetype(at);
}

// The string value that follows a key token, up to its closing quote.
std::optional<QByteArrayView> stringAfter(QByteArrayView line, std::string_view token)
{
    const qsizetype at = firstIndexOf(line, token);
    if (at < 0)
        return std::nullopt;
    const qsizetype start = at + qsizetype(token.size());
    const qsizetype end = line.indexOf('"', start);
    if (end < 0)
        return std::nullopt;
    return line.sliced(start, end - start);
}

} // namespace

void WrittenCpuIds::refresh(const QString &directory)
{
    refreshFiles(Trace::filesIn(directory));
}

void WrittenCpuIds::refreshFiles(const QStringList &newFiles)
{
    // Oldest first, so that a CPU id keeps the time of its first record. No directory is
    // listed: under Wine, a listing made on an action's thread kept the process from
    // ending.
    QStringList paths = readUpTo.keys();
    for (const QString &path : newFiles) {
        if (!readUpTo.contains(path) && QFileInfo(path).isFile())
            paths.append(path);
    }
    std::sort(paths.begin(), paths.end(),
        [](const QString &a, const QString &b) { return QFileInfo(a).fileName() < QFileInfo(b).fileName(); });
    for (const QString &path : paths)
        readNewEnd(path);
}

void WrittenCpuIds::readNewEnd(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const qint64 size = file.size();
    qint64 from = readUpTo.value(path);
    // A file that shrank was replaced: read it again from its start.
    if (size < from)
        from = 0;
    readUpTo.insert(path, from);
    if (size == from)
        return;
    QByteArray copy;
    QByteArrayView content;
    // Mapped rather than read: a year of records is scanned without a copy.
    uchar *mapped = file.map(from, size - from);
    if (mapped) {
        content = QByteArrayView(mapped, size - from);
    } else {
        if (!file.seek(from))
            return;
        copy = file.read(size - from);
        content = copy;
    }
    addLines(content);
    // A last line without its line end is read again next time: it may still grow.
    const qsizetype lastLineEnd = content.lastIndexOf('\n');
    if (lastLineEnd >= 0)
        readUpTo.insert(path, from + lastLineEnd + 1);
    if (mapped)
        file.unmap(mapped);
}

void WrittenCpuIds::add(const TraceRecord &record)
{
    if (Levels::parse(record.level) == Levels::basic && record.exitCode == 0 && record.cpuId)
        insert(*record.cpuId, record.time);
}

std::optional<QString> WrittenCpuIds::writtenAt(const QString &cpuId) const
{
    const auto found = firstTimes.constFind(cpuId);
    if (found == firstTimes.constEnd())
        return std::nullopt;
    return *found;
}

void WrittenCpuIds::addLines(QByteArrayView content)
{
    // Start-up reads every record ever written, so the lines are not parsed as JSON:
    // records are written with their keys in one order, and no string value can hold
    // an unescaped quote, so the first match of each key token is that key.
    static const std::string basicLevel = ",\"level\":\"" + Levels::name(Levels::basic).toStdString() + "\",";
    for (const QByteArrayView line : Trace::lines(content)) {
        if (!line.startsWith("{\"seq\":") || !line.endsWith('}') || firstIndexOf(line, basicLevel) < 0
            || firstIndexOf(line, ",\"exit_code\":0,") < 0)
            continue;
        const std::optional<QByteArrayView> time = stringAfter(line, ",\"time\":\"");
        const std::optional<QByteArrayView> cpuId = stringAfter(line, ",\"cpu_id\":\"");
        if (time && cpuId)
            insert(QString::fromLatin1(*cpuId), QString::fromLatin1(*time));
    }
}

void WrittenCpuIds::insert(const QString &cpuId, const QString &time)
{
    // An empty id names no board.
    if (cpuId.isEmpty())
        return;
    // One look-up rather than two: a new entry is what makes the hash grow.
    const qsizetype before = firstTimes.size();
    QString &first = firstTimes[cpuId];
    if (firstTimes.size() != before)
        first = time;
}
