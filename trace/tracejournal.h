#pragma once

#include "traceclaims.h"
#include "tracerecord.h"
#include "writtencpuids.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <optional>

class QFile;

// What Basic does with a CPU id that a successful Basic action has already written.
enum class DuplicateCpuIdGuard { Off, Warn, Refuse };

// The answer to a claim of a CPU id before its board is written.
struct CpuIdClaim
{
    enum class Outcome {
        Claimed, // this action holds it now
        AlreadyWritten, // a successful record names it; time is that record's
        InDoubt, // claimed by a program still running, or by one that died before its record
        Unavailable, // the claim could not be made: the trace cannot take it or its record
    };
    Outcome outcome = Outcome::Unavailable;
    QString time;
    QString station; // of the claim in doubt
};

// The trace of a directory: appends chained records to the file of each day, one at a
// time, and keeps the index of written CPU ids in step with them. Claims CPU ids before
// their boards are written and settles each claim with its action's record. Shared by
// the threads of one program; a lock file in the directory keeps other programs apart.
class TraceJournal
{
public:
    explicit TraceJournal(QString directory);
    Q_DISABLE_COPY_MOVE(TraceJournal)

    // Reads the records already in the directory into the index of written CPU ids, and
    // settles the claims whose records are there.
    void loadWrittenCpuIds();
    std::optional<QString> cpuIdWrittenAt(const QString &cpuId) const;

    // Claims the record's CPU id for the action it describes (its "time" and "station"),
    // after reading what other programs have appended since the last look.
    CpuIdClaim claim(const TraceRecord &record);

    // Gives the record its "seq" and "prev", appends it to the file of the local date of
    // its "time" and has it on the disk, then settles the claim made for it. False when
    // the record could not be written: the claim then stays, in doubt, unless the board
    // was never written to.
    bool append(TraceRecord &record, bool boardMayBeWritten = true);

    enum class Release { Released, NoClaim, OwnerRunning, Failed };
    // Ends a claim in doubt on a person's word, keeping who, when and why beside the trace.
    Release release(const QString &cpuId, const QString &by, const QString &reason);

    QString directory() const { return dir; }

    // The furthest from a file's end the journal looks for its last record.
    static constexpr qint64 maxTailRead = 1024 * 1024;

private:
    // Where the next record joins the file: after its last complete record.
    struct ChainEnd
    {
        qint64 seq = 0;
        QString prev = Trace::firstPrev;
        bool endsWithLineEnd = true;
    };
    static std::optional<ChainEnd> readChainEnd(QFile &file);
    // The path of the day file of a record's time; empty when it names no date.
    QString dayFileOf(const QString &time) const;
    // Whether the day file can take a record: none yet, or a file whose chain end is found.
    static bool dayFileWritable(const QString &path);
    // Under the directory's lock.
    bool appendLocked(TraceRecord &record, const QString &path);
    void settle(const TraceRecord &record, bool appended, bool boardMayBeWritten);
    void removeClaimOf(const QString &cpuId, const QString &since);
    // A claim's record, when its program wrote one: its exit code.
    std::optional<qint32> exitCodeOfClaim(const TraceClaim &claim) const;

    mutable QMutex mutex;
    const QString dir;
    WrittenCpuIds written;
    // This program's open claims: CPU id and the "time" of the action that holds it.
    QHash<QString, QString> heldClaims;
};
