#pragma once

#include "linestation.h"
#include "tracejournal.h"

#include <QJsonDocument>
#include <QString>


// The rules by which Korvane's programs read config.json, apart from the window so that
// they can be exercised with any file content and shared with the command line.
namespace WindowConfig {

extern const QString logKey;
extern const QString dllKey;
extern const QString versionKey;
extern const QString traceKey;
extern const QString stationKey;
extern const QString duplicateCpuIdKey;
extern const QString lineDbKey;
extern const QString lineDbOfflineKey;

// A configuration is a few lines: a larger file is none, and never read whole.
constexpr qint64 maxFileSize = 1024 * 1024;

// What reading a configuration file found.
struct File
{
    enum class Status {
        Read, // parsed: document holds it, its root not necessarily an object
        Missing,
        Unreadable, // not a regular file, or it cannot be opened or read
        TooLarge, // more than maxFileSize bytes
        NotJson, // problem says why and where
    };
    Status status = Status::Missing;
    QJsonDocument document; // null unless Read
    QString problem; // NotJson: Qt's reason "at offset N"
};

// Reads a regular file only, at most maxFileSize bytes of it, and parses it as JSON;
// bytes that are no UTF-8 in its strings read as U+FFFD.
File read(const QString &path);

// Only the literal true enables "LOG"; a "DLL" or "APP_VERSION" that is not a string,
// and every key of a root that is not an object, count as empty.
bool logEnabled(const QJsonDocument &config);
QString pluginPath(const QJsonDocument &config);
QString version(const QJsonDocument &config);

// Optional keys, off when absent: only the literal true enables "TRACE"; "STATION" is
// used when it is a string; "DUPLICATE_CPUID" is "warn" or "refuse", anything else is off.
bool traceEnabled(const QJsonDocument &config);
QString station(const QJsonDocument &config);
DuplicateCpuIdGuard duplicateCpuIdGuard(const QJsonDocument &config);
// "LINE_DB" is a libpq connection string, used when it is a non-empty string; with
// "LINE_DB_OFFLINE" "local" the station's own index decides while the line database does
// not answer, with anything else a guarded Basic action is refused.
QString lineDb(const QJsonDocument &config);
LineOfflinePolicy lineOfflinePolicy(const QJsonDocument &config);

// What every trace record of a run shares from the configuration: "STATION", else the
// computer's host name, and the tool with the version the title shows.
TraceRecord traceOrigin(const QJsonDocument &config);

} // namespace WindowConfig
