#include "testenvironment.h"

#include "apppaths.h"

#include <QDate>
#include <QDir>
#include <QFile>

TestEnvironment::TestEnvironment()
    : previousBench(qgetenv("ZVSIM_BENCH"))
{
    AppPaths::overrideApplicationDirectory(directory.path());
    QDir(directory.path()).mkpath(QStringLiteral("bench"));
    qputenv("ZVSIM_BENCH", benchDirectory().toLocal8Bit());
}

TestEnvironment::~TestEnvironment()
{
    AppPaths::overrideApplicationDirectory(QString());
    if (previousBench.isNull())
        qunsetenv("ZVSIM_BENCH");
    else
        qputenv("ZVSIM_BENCH", previousBench);
}

QString TestEnvironment::writeFile(const QString &name, const QByteArray &content) const
{
    const QString path = directory.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write test file %s", qPrintable(path));
    return path;
}

QByteArray TestEnvironment::logFile() const
{
    return readFile(filePath(QStringLiteral("log/App%1.log").arg(QDate::currentDate().toString(Qt::ISODate))));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
