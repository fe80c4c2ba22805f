#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QList>
#include <QString>

#include <optional>

// One action as the trace keeps it. Never holds key bytes, plaintext or anything the
// plug-in returned: only hashes and sizes of the files.
struct TraceRecord
{
    qint64 seq = 0;
    QString time; // the action's start, UTC, ISO 8601 with milliseconds and "Z"
    QString station;
    QString tool;
    QString plugin; // file name only
    QString pluginSha256;
    QString level; // "basic", "middle" or "high"
    QString board; // "Maskrom" or "Loader"
    std::optional<QString> cpuId; // lower-case hex; empty for an id of length 0
    std::optional<QString> keyFingerprint;
    std::optional<int> keyIndex;
    std::optional<qint64> dataSize;
    std::optional<QString> dataSha256;
    qint32 exitCode = 0;
    qint64 durationMs = 0;
    QString prev; // SHA-256 of the previous line of the file
};

// The outcome of reading one line: a record, or why the line is not one.
struct ParsedTraceLine
{
    std::optional<TraceRecord> record;
    QString problem;
};

namespace Trace {

// The "prev" of a file's first record.
extern const QString firstPrev;

// The keys of a record line, in the order they are written.
extern const char *const keys[];

QString sha256Hex(QByteArrayView bytes);
// Lower-case hex digits in pairs, of the given length when one is given.
bool isLowerHex(const QString &text, qsizetype length = -1);
// Empty when the file cannot be read.
QString sha256HexOfFile(const QString &path);
// The first 8 bytes of the SHA-256 of a key file's bytes, as 16 hex digits.
QString keyFingerprint(QByteArrayView keyBytes);

// "Trace<yyyyMMdd>.jsonl" for a local date.
QString fileNameFor(QDate localDate);
// The local date in a trace file's name; invalid for a name that is not one.
QDate dateOfFileName(const QString &fileName);
// The local date of a record's "time": the day whose file holds the record.
QDate localDateOf(const QString &time);
// The trace files of a directory, oldest first.
QStringList filesIn(const QString &directory);

// A string as a JSON value, quotes included: Qt's escaping.
QByteArray jsonString(const QString &text);

// The plug-in's fields of a record: its file name and the SHA-256 of its file.
void setPlugin(TraceRecord &record, const QString &pluginPath);

// A trace file's content split into lines, and what an editor added that the split took
// away.
struct Lines
{
    // Each without its line end ('\n', or "\r\n"); the last one also when its line end
    // was lost. A lone '\r' at the very end is taken for a line end too.
    QList<QByteArrayView> lines;
    // A UTF-8 byte order mark before the first line, left out of it.
    bool byteOrderMark = false;
    // The index in lines of the first one that ended in '\r', left out of it; -1 when none.
    qsizetype firstCarriageReturn = -1;
};
Lines splitLines(QByteArrayView content);
// The lines as the records were written: splitLines(content).lines.
QList<QByteArrayView> lines(QByteArrayView content);

// True for a line (without its line end) that a power loss cut short: the start of a
// record line as formatLine() writes it that stops before its closing brace, then
// possibly zeros; or zeros only. Zeros are what a file system shows where the file's
// new length reached the disk but its bytes did not. Never true for an empty line or a
// line that is a whole record.
bool isCutOffLine(QByteArrayView line);

// One compact JSON line, keys in their order, without the line end.
QByteArray formatLine(const TraceRecord &record);
// Checks one line (without its line end): JSON, every key in its order and of its type,
// and written exactly as formatLine() writes it.
ParsedTraceLine parseLine(QByteArrayView line);

} // namespace Trace
