#pragma once

#include "tracerecord.h"

#include <QHash>
#include <QString>

#include <optional>

// The CPU ids a successful Basic action has written, each with the time of its first
// record: what the duplicate CPU-id guard asks.
class WrittenCpuIds
{
public:
    // Adds the records of every trace file of the directory. Lines that are not records
    // (a line cut off by a power loss) are passed over.
    void refresh(const QString &directory);
    // Adds what was appended, by this program or another, to the files read before and
    // to these trace files since they were last read: only their new ends.
    void refreshFiles(const QStringList &newFiles);
    // Adds the record when it is a successful Basic action with a CPU id.
    void add(const TraceRecord &record);
    // A CPU id whose board may have been written without a record to say so.
    void insert(const QString &cpuId, const QString &time);

    std::optional<QString> writtenAt(const QString &cpuId) const;
    qsizetype size() const { return firstTimes.size(); }

private:
    void addLines(QByteArrayView content);
    void readNewEnd(const QString &path);

    QHash<QString, QString> firstTimes;
    // Per trace file, how far it has been read: up to the end of its last complete line.
    QHash<QString, qint64> readUpTo;
};
