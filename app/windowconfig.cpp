#include "windowconfig.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QJsonValue>
#include <QSysInfo>

namespace WindowConfig {

const QString logKey = QStringLiteral("LOG");
const QString dllKey = QStringLiteral("DLL");
const QString versionKey = QStringLiteral("APP_VERSION");
const QString traceKey = QStringLiteral("TRACE");
const QString stationKey = QStringLiteral("STATION");
const QString duplicateCpuIdKey = QStringLiteral("DUPLICATE_CPUID");
const QString lineDbKey = QStringLiteral("LINE_DB");
const QString lineDbOfflineKey = QStringLiteral("LINE_DB_OFFLINE");

File read(const QString &path)
{
    File result;
    const QFileInfo info(path);
    if (!info.exists())
        return result;
    result.status = File::Status::Unreadable;
    // Opening a named pipe or a device would wait for a writer that never comes, or never
    // end (/dev/zero), and hold the program for good: only regular files are read.
    if (!info.isFile())
        return result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    // One byte more than allowed tells a file that is too large, or grew while read.
    const QByteArray bytes = file.read(maxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return result;
    if (bytes.size() > maxFileSize) {
        result.status = File::Status::TooLarge;
        return result;
    }
    // Parsed as it is, so that an offset counts the file's own bytes; Qt's parser takes
    // the carriage returns and the byte order mark of a file saved on Windows.
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    // A string that is no UTF-8 reads as a text editor shows it, rather than losing
    // every key of the file.
    if (error.error == QJsonParseError::IllegalUTF8String)
        document = QJsonDocument::fromJson(QString::fromUtf8(bytes).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        result.status = File::Status::NotJson;
        result.problem = QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset);
        return result;
    }
    result.status = File::Status::Read;
    result.document = document;
    return result;
}

bool logEnabled(const QJsonDocument &config)
{
    return config.object().value(logKey).toBool();
}

QString pluginPath(const QJsonDocument &config)
{
    return config.object().value(dllKey).toString();
}

QString version(const QJsonDocument &config)
{
    return config.object().value(versionKey).toString();
}

bool traceEnabled(const QJsonDocument &config)
{
    return config.object().value(traceKey).toBool();
}

QString station(const QJsonDocument &config)
{
    return config.object().value(stationKey).toString();
}

DuplicateCpuIdGuard duplicateCpuIdGuard(const QJsonDocument &config)
{
    const QString mode = config.object().value(duplicateCpuIdKey).toString();
    if (mode == QLatin1String("warn"))
        return DuplicateCpuIdGuard::Warn;
    if (mode == QLatin1String("refuse"))
        return DuplicateCpuIdGuard::Refuse;
    return DuplicateCpuIdGuard::Off;
}

QString lineDb(const QJsonDocument &config)
{
    return config.object().value(lineDbKey).toString();
}

LineOfflinePolicy lineOfflinePolicy(const QJsonDocument &config)
{
    return config.object().value(lineDbOfflineKey).toString() == QLatin1String("local") ? LineOfflinePolicy::Local
                                                                                        : LineOfflinePolicy::Refuse;
}

TraceRecord traceOrigin(const QJsonDocument &config)
{
    TraceRecord origin;
    const QString name = station(config);
    origin.station = name.isEmpty() ? QSysInfo::machineHostName() : name;
    // The title's name is translated; the record keeps the program's own.
    origin.tool = (QStringLiteral("Korvane ") + version(config)).trimmed();
    return origin;
}

} // namespace WindowConfig
