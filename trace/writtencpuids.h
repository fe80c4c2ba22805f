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
    // Adds the records of every trace file in the directory. Lines that are not
    // records (a line cut off by a power loss) are passed over.
    void addDirectory(const QString &directory);
    // Adds the record when it is a successful Basic action with a CPU id.
    void add(const TraceRecord &record);

    std::optional<QString> writtenAt(const QString &cpuId) const;
    qsizetype size() const { return firstTimes.size(); }

private:
    void addLines(QByteArrayView content);
    void insert(const QString &cpuId, const QString &time);

    QHash<QString, QString> firstTimes;
};
