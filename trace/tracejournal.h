#pragma once

#include "tracerecord.h"
#include "writtencpuids.h"

#include <QMutex>
#include <QString>

#include <optional>

class QFile;

// What Basic does with a CPU id that a successful Basic action has already written.
enum class DuplicateCpuIdGuard { Off, Warn, Refuse };

// The trace of a directory: appends chained records to the file of each day, one at a
// time, and keeps the index of written CPU ids in step with them. Shared by the
// threads of one program; a lock file keeps other programs' appends apart.
class TraceJournal
{
public:
    explicit TraceJournal(QString directory);
    Q_DISABLE_COPY_MOVE(TraceJournal)

    // Reads the records already in the directory into the index of written CPU ids.
    void loadWrittenCpuIds();
    std::optional<QString> cpuIdWrittenAt(const QString &cpuId) const;

    // Gives the record its "seq" and "prev", appends it to the file of the local date of
    // its "time" and has it on the disk. False when that could not be done.
    bool append(TraceRecord &record);

    QString directory() const { return dir; }

private:
    // Where the next record joins the file: after its last complete record.
    struct ChainEnd
    {
        qint64 seq = 0;
        QString prev = Trace::firstPrev;
        bool endsWithLineEnd = true;
    };
    static std::optional<ChainEnd> readChainEnd(QFile &file);

    mutable QMutex mutex;
    const QString dir;
    WrittenCpuIds written;
};
