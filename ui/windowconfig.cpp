#include "windowconfig.h"

#include <QFile>
#include <QJsonObject>
#include <QJsonValue>

namespace WindowConfig {

const QString logKey = QStringLiteral("LOG");
const QString dllKey = QStringLiteral("DLL");
const QString versionKey = QStringLiteral("APP_VERSION");

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

} // namespace WindowConfig
