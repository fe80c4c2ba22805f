#include "apppaths.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString &overriddenDirectory()
{
    static QString directory;
    return directory;
}
} // namespace

namespace AppPaths {

QString applicationDirectory()
{
    const QString &overridden = overriddenDirectory();
    return overridden.isEmpty() ? QCoreApplication::applicationDirPath() : overridden;
}

void overrideApplicationDirectory(const QString &directory)
{
    overriddenDirectory() = directory;
}

QString configFilePath()
{
    return applicationDirectory() + QDir::separator() + QStringLiteral("config.json");
}

QString logDirectoryPath()
{
    return applicationDirectory() + QDir::separator() + QStringLiteral("log");
}

QString traceDirectoryPath()
{
    return applicationDirectory() + QDir::separator() + QStringLiteral("trace");
}

} // namespace AppPaths
