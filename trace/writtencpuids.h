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
    // Adds the records of the directory's trace files that were not read before: all of
    // them the first time, then only what was appended since, by this program or another.
    // Lines that are not records (a line cut off by a power loss) are passed over.
    void refresh(const QString &directory);
    // Adds the record when it is a successful Basic action with a CPU id.
    void add(const TraceRecord &record);
    // A CPU id whose board may have been written without a record to say so.
    void insert(const QString &cpuId, const QString &time);

    std::optional<QString> writtenAt(const QString &cpuId) const;
    qsizetype size() const { return firstTimes.size(); }

private:
    void addLines(QByteArrayView content);

    QHash<QString, QString> firstTimes;
    // Per trace file, how far it has been read: up to the end of its last complete line.
    QHash<QString, qint64> readUpTo;
};
