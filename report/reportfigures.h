#pragma once

#include "tracerecord.h"

#include <QDate>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

// The figures of a line report for one period: what the line database's server adds up,
// or what one station's trace folder holds. Both sources fill the same figures under the
// same rules, so that a station's page reads the same from either.
//
// The rules: a unit is a CPU id (not empty) named by a Basic record; its first attempt is
// its earliest Basic record of the period (by time, then station, day and seq). It passed
// the first time when that record's exit code is 0. A unit counts on the station and day
// of its first attempt. Everything is limited to the period's days (the local day whose
// trace file holds the record) and to the stations asked for.
namespace Report {

// The upper bounds, in milliseconds, of the cycle-time histogram's buckets; the last
// bucket has none.
inline constexpr std::array<qint64, 13> cycleBucketBounds { 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000,
    5000, 10000 };
inline constexpr int cycleBuckets = int(cycleBucketBounds.size()) + 1;
// The most rows a list of the page shows (claims in doubt, broken chains, CPU ids written
// twice); the figures still count them all.
inline constexpr int listLimit = 200;
int cycleBucketOf(qint64 durationMs);
// The smallest value at or above the fraction p of the sorted values (a discrete
// percentile); 0 for no values.
qint64 discretePercentile(const std::vector<qint64> &sorted, double p);

struct Period
{
    QDate from; // invalid: open
    QDate to; // invalid: open
    QStringList stations; // empty: all

    bool containsDay(QDate day) const;
    bool containsStation(const QString &station) const;
};

// The period of a command line's --from and --to (YYYY-MM-DD, either may be empty); none,
// with the problem, for a day that is not one or a period that ends before it starts.
std::optional<Period> periodOf(const QString &from, const QString &to, QString *problem);

struct StationDay
{
    QString station;
    QDate day;
    qint64 units = 0;
    qint64 firstPassUnits = 0;
    qint64 attempts = 0;
    qint64 failures = 0;
};

struct ExitCodeCount
{
    qint32 exitCode = 0;
    qint64 count = 0;
};

struct LevelCycle
{
    QString level;
    qint64 attempts = 0;
    qint64 medianMs = 0;
    qint64 p95Ms = 0;
    std::array<qint64, cycleBuckets> histogram {};
};

struct StationLast
{
    QString station;
    QString lastRecord; // a record's "time"
    QString lastUpload; // UTC, as a record's "time"; null where uploads are not known
};

struct ClaimInDoubt
{
    QString cpuId;
    QString station;
    QString since;
};

struct BrokenChain
{
    QString station;
    QDate day;
    qint64 record = 0; // the line database's seq; a trace file's line number
    QString why;
};

struct WrittenTwice
{
    QString cpuId;
    QStringList stations; // one per successful Basic record, oldest first
    QStringList times;
};

struct Figures
{
    Period period;
    QString source; // the database (and its server) or the folder the figures were read from
    bool fromLineDatabase = false; // else one trace folder: no uploads, other commands

    qint64 units = 0;
    qint64 firstPassUnits = 0;
    qint64 attempts = 0;
    qint64 passedAttempts = 0;
    qint64 refusedDuplicates = 0;
    QList<StationDay> stationDays; // by station, then day
    QList<ExitCodeCount> failures; // most frequent first, then by code
    std::array<qint64, 24> unitsWrittenByHour {}; // successful Basic records by local hour
    QList<LevelCycle> cycles; // in the order of the levels
    QList<StationLast> stations; // by name
    QList<ClaimInDoubt> inDoubt; // oldest first, at most listLimit
    qint64 inDoubtCount = 0;
    QList<BrokenChain> brokenChains; // at most listLimit
    qint64 brokenChainCount = 0;
    QList<WrittenTwice> writtenTwice; // by the first time, at most listLimit
    qint64 writtenTwiceCount = 0;
};

// Adds records up one by one, as a trace folder is read.
class Tally
{
public:
    explicit Tally(Period period);

    // Every record of the folder: those outside the period count only for the stations'
    // last record.
    void add(QDate day, const TraceRecord &record);
    // The figures so far, with the rest (claims, broken chains) left empty.
    Figures figures() const;

private:
    struct FirstAttempt
    {
        QString time;
        QString station;
        QDate day;
        qint64 seq = 0;
        bool passed = false;
    };

    Period period;
    QMap<QPair<QString, QDate>, StationDay> days;
    QMap<QString, FirstAttempt> firstAttempts;
    QMap<qint32, qint64> failureCounts;
    std::array<qint64, 24> byHour {};
    QMap<int, std::vector<qint64>> durations; // by level number
    QMap<QString, QString> lastRecords;
    QMap<QString, QList<QPair<QString, QString>>> writes; // CPU id: (time, station)
    qint64 attempts = 0;
    qint64 passedAttempts = 0;
    qint64 refusedDuplicates = 0;
};

// The figures of a trace folder: its records, its claims in doubt and the first bad line
// of each broken file of the period. False with the reason when the folder cannot be read.
bool figuresOfTraceFolder(const QString &directory, const Period &period, Figures *figures, QString *reason);

} // namespace Report
