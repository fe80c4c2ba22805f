#include "windowconfig.h"

#include <QFile>
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

std::optional<QJsonDocument> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    return QJsonDocument::fromJson(text.toUtf8());
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
