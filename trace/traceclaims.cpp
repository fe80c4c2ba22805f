#include "traceclaims.h"

#include "fileappend.h"
#include "tracerecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#endif

namespace TraceClaims {

namespace {

const QString claimSuffix = QStringLiteral(".json");
// A claim is a line of a few hundred bytes; anything much larger is not one.
constexpr qint64 maxClaimSize = 64 * 1024;

// Claims are named by their CPU id, which must therefore never leave the folder.
bool isCpuId(const QString &cpuId)
{
    return !cpuId.isEmpty() && Trace::isLowerHex(cpuId);
}

QString pathOf(const QString &traceDirectory, const QString &cpuId)
{
    return QDir(directoryOf(traceDirectory)).filePath(cpuId + claimSuffix);
}

QByteArray claimFields(const TraceClaim &claim)
{
    return "\"since\":" + Trace::jsonString(claim.since) + ",\"station\":" + Trace::jsonString(claim.station)
        + ",\"host\":" + Trace::jsonString(claim.host) + ",\"pid\":" + QByteArray::number(claim.pid);
}

std::optional<QJsonObject> objectOf(QByteArrayView line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

TraceClaim claimOf(const QJsonObject &object, const QString &cpuId)
{
    TraceClaim claim;
    claim.cpuId = cpuId;
    claim.since = object.value(QLatin1String("since")).toString();
    claim.station = object.value(QLatin1String("station")).toString();
    claim.host = object.value(QLatin1String("host")).toString();
    claim.pid = object.value(QLatin1String("pid")).toInteger();
    return claim;
}

bool processRuns(qint64 pid)
{
#ifdef Q_OS_WIN
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD exitCode = 0;
    const bool running = GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
    CloseHandle(process);
    return running;
#else
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
#endif
}

} // namespace

QString directoryOf(const QString &traceDirectory)
{
    return QDir(traceDirectory).filePath(QStringLiteral("claims"));
}

QByteArray formatLine(const TraceClaim &claim)
{
    return "{\"claim\":" + Trace::jsonString(claim.cpuId) + ',' + claimFields(claim) + '}';
}

std::optional<TraceClaim> parseLine(QByteArrayView line)
{
    const std::optional<QJsonObject> object = objectOf(line);
    if (!object || !object->value(QLatin1String("claim")).isString())
        return std::nullopt;
    return claimOf(*object, object->value(QLatin1String("claim")).toString());
}

QByteArray formatLine(const TraceRelease &release)
{
    return "{\"release\":" + Trace::jsonString(release.claim.cpuId) + ',' + claimFields(release.claim)
        + ",\"released\":" + Trace::jsonString(release.released) + ",\"by\":" + Trace::jsonString(release.by)
        + ",\"reason\":" + Trace::jsonString(release.reason) + '}';
}

std::optional<TraceRelease> parseReleaseLine(QByteArrayView line)
{
    const std::optional<QJsonObject> object = objectOf(line);
    if (!object || !object->value(QLatin1String("release")).isString())
        return std::nullopt;
    TraceRelease release;
    release.claim = claimOf(*object, object->value(QLatin1String("release")).toString());
    release.released = object->value(QLatin1String("released")).toString();
    release.by = object->value(QLatin1String("by")).toString();
    release.reason = object->value(QLatin1String("reason")).toString();
    return release;
}

Creation create(const QString &traceDirectory, const TraceClaim &claim)
{
    const QString folder = directoryOf(traceDirectory);
    if (!isCpuId(claim.cpuId) || !QDir().mkpath(folder))
        return Creation::Failed;
    QFile file(pathOf(traceDirectory, claim.cpuId));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return file.exists() ? Creation::Exists : Creation::Failed;
    // A claim that is not on the disk protects nothing after a power cut.
    if (!appendDurably(file, formatLine(claim) + '\n') || !syncDirectory(folder)) {
        file.close();
        file.remove();
        return Creation::Failed;
    }
    return Creation::Created;
}

std::optional<TraceClaim> read(const QString &traceDirectory, const QString &cpuId)
{
    if (!isCpuId(cpuId))
        return std::nullopt;
    const QFileInfo info(pathOf(traceDirectory, cpuId));
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    TraceClaim unreadable;
    unreadable.cpuId = cpuId;
    // Something else under a claim's name (a folder, a pipe) is never opened: it could block.
    QFile file(info.filePath());
    if (!info.isFile() || info.size() > maxClaimSize || !file.open(QIODevice::ReadOnly))
        return unreadable;
    const std::optional<TraceClaim> claim = parseLine(file.readAll().trimmed());
    return claim && claim->cpuId == cpuId ? *claim : unreadable;
}

QList<TraceClaim> all(const QString &traceDirectory)
{
    QList<TraceClaim> claims;
    const QStringList names = QDir(directoryOf(traceDirectory))
                                  .entryList({ QLatin1Char('*') + claimSuffix }, QDir::AllEntries | QDir::System, QDir::Name);
    for (const QString &name : names) {
        if (const std::optional<TraceClaim> claim = read(traceDirectory, name.chopped(claimSuffix.size())))
            claims.append(*claim);
    }
    return claims;
}

bool remove(const QString &traceDirectory, const QString &cpuId)
{
    if (!isCpuId(cpuId))
        return false;
    QFile file(pathOf(traceDirectory, cpuId));
    if (!file.exists())
        return true;
    return file.remove() && syncDirectory(directoryOf(traceDirectory));
}

bool ownerMayBeRunning(const TraceClaim &claim)
{
    // A claim file too damaged to name its computer has no program to wait for.
    if (claim.host.isEmpty())
        return false;
    if (claim.host != QSysInfo::machineHostName())
        return true;
    return claim.pid > 0 && processRuns(claim.pid);
}

TraceClaim ownClaim(const QString &cpuId, const QString &since, const QString &station)
{
    TraceClaim claim;
    claim.cpuId = cpuId;
    claim.since = since;
    claim.station = station;
    claim.host = QSysInfo::machineHostName();
    claim.pid = QCoreApplication::applicationPid();
    return claim;
}

QString releasesPathOf(const QString &traceDirectory)
{
    return QDir(traceDirectory).filePath(QStringLiteral("releases.jsonl"));
}

QList<TraceRelease> releases(const QString &traceDirectory)
{
    QList<TraceRelease> found;
    QFile file(releasesPathOf(traceDirectory));
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return found;
    const QByteArray content = file.readAll();
    for (const QByteArrayView line : Trace::lines(content)) {
        if (const std::optional<TraceRelease> release = parseReleaseLine(line))
            found.append(*release);
    }
    return found;
}

bool appendRelease(const QString &traceDirectory, const TraceRelease &release)
{
    const QString path = releasesPathOf(traceDirectory);
    const bool created = !QFileInfo::exists(path);
    QFile file(path);
    if ((!created && !QFileInfo(path).isFile()) || !file.open(QIODevice::ReadWrite))
        return false;
    // A line cut off by a power loss stays apart from the next one.
    QByteArray line = formatLine(release) + '\n';
    if (file.size() > 0 && file.seek(file.size() - 1) && file.read(1) != "\n")
        line.prepend('\n');
    return appendDurably(file, line) && (!created || syncDirectory(traceDirectory));
}

} // namespace TraceClaims
