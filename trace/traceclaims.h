#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// A CPU id claimed before its board is written: one small file per CPU id in the trace
// directory's "claims" folder, created exclusively and on the disk before the plug-in is
// called, and removed once the action's record settles it. A claim whose program died
// before its record is in doubt: its board may or may not have been written, so only its
// record or a person's release may end it.
struct TraceClaim
{
    QString cpuId;
    QString since; // the action's start, the "time" of the record that settles it
    QString station;
    QString host;
    qint64 pid = 0;
};

// A claim in doubt ended by a person: who, when and why, kept beside the trace.
struct TraceRelease
{
    TraceClaim claim;
    QString released; // UTC, ISO 8601 with milliseconds
    QString by;
    QString reason;
};

namespace TraceClaims {

QString directoryOf(const QString &traceDirectory);

QByteArray formatLine(const TraceClaim &claim);
std::optional<TraceClaim> parseLine(QByteArrayView line);
QByteArray formatLine(const TraceRelease &release);
std::optional<TraceRelease> parseReleaseLine(QByteArrayView line);

enum class Creation { Created, Exists, Failed };
// Creates the claim's file only when none exists, and has it on the disk.
Creation create(const QString &traceDirectory, const TraceClaim &claim);

// The claim of a CPU id, if any. A claim file that cannot be read or understood is still
// a claim: it comes back with its CPU id alone.
std::optional<TraceClaim> read(const QString &traceDirectory, const QString &cpuId);
// Every claim of the directory.
QList<TraceClaim> all(const QString &traceDirectory);
// True also when there was none to remove.
bool remove(const QString &traceDirectory, const QString &cpuId);

// Whether the program that made the claim may still run: on this computer, its process;
// a claim from another computer counts as running, one that names none as ended.
bool ownerMayBeRunning(const TraceClaim &claim);

// This program's part of a claim: the computer and the process.
TraceClaim ownClaim(const QString &cpuId, const QString &since, const QString &station);

// The releases kept in the trace directory, oldest first.
QString releasesPathOf(const QString &traceDirectory);
QList<TraceRelease> releases(const QString &traceDirectory);
bool appendRelease(const QString &traceDirectory, const TraceRelease &release);

} // namespace TraceClaims
