#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

class LineDatabase;

// Uploading trace files to the line database, record by record and in order, for the
// stations and for korvane-line push alike.
namespace LineUpload {

// A record line of a trace file ready for the server: complete (its line end written)
// and a record as Trace::parseLine reads it.
struct WaitingLine
{
    QByteArray line; // without its line end
    qint64 end = 0; // the offset after its line end
    qint64 number = 0; // 1-based line of the file; after the offset only, unless skipped is given
};

// The complete record lines of a trace file after offset; lines cut off by a power loss
// and lines that are no record are passed over. skipped, when given, gets the line
// numbers of those that are no record and were not cut off.
QList<WaitingLine> waitingLines(const QString &path, qint64 offset, QList<qint64> *skipped = nullptr);

// The upload cursor of a trace directory: per trace file name, the offset after the last
// line the server has answered for. Absent or unreadable: nothing uploaded yet.
QString cursorPath(const QString &traceDirectory);
QHash<QString, qint64> readCursor(const QString &traceDirectory);
bool writeCursor(const QString &traceDirectory, const QHash<QString, qint64> &offsets);

// How many records of the directory wait for the server; short of it when keepGoing
// (asked before each file) says to stop.
qint64 countWaiting(const QString &traceDirectory, const QHash<QString, qint64> &offsets,
    const std::function<bool()> &keepGoing = {});

struct Answer
{
    enum class Outcome { Stored, Already, Broken, Failed };
    Outcome outcome = Outcome::Failed;
    QString why; // broken: why; failed: the reason
    bool unreachable = false; // failed without an answer from the server
};

// Uploads one record line of the trace file of the given local day (yyyy-MM-dd).
Answer uploadLine(LineDatabase &database, const QString &day, const QByteArray &line);

struct FileProgress
{
    qint64 stored = 0;
    qint64 already = 0;
    qint64 broken = 0;
    bool complete = false; // every waiting line answered
    Answer failure; // when not complete: the answer that stopped it
};

// Uploads the waiting lines of a trace file after offset, in order, until one fails or
// keepGoing (asked before each line) says to stop. answered is told of each answer.
FileProgress uploadFile(LineDatabase &database, const QString &path, qint64 offset,
    const std::function<bool()> &keepGoing = {},
    const std::function<void(const WaitingLine &, const Answer &)> &answered = {});

} // namespace LineUpload
