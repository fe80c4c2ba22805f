#include "loadersupport.h"

#include "testenvironment.h"
#include "testplugins.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

bool isModuleMapped(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
#ifdef Q_OS_WIN
    return GetModuleHandleW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(canonical).utf16()))
        != nullptr;
#else
    // Each mapping line ends in the mapped file's path. The file reports a size of 0,
    // so it is read whole rather than line by line up to atEnd().
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly | QIODevice::Text))
        qFatal("cannot read /proc/self/maps");
    const QByteArray suffix = ' ' + QFile::encodeName(canonical);
    const QList<QByteArray> lines = maps.readAll().split('\n');
    return std::any_of(
        lines.cbegin(), lines.cend(), [&](const QByteArray &line) { return line.endsWith(suffix); });
#endif
}

QString copyOfRecordingPlugin(const TestEnvironment &environment, const QString &name)
{
    const QString path = environment.filePath(name);
    if (!QFile::copy(QString::fromUtf8(TestPlugins::recordingPlugin), path))
        qFatal("cannot copy the recording plug-in to %s", qPrintable(path));
    return path;
}

QByteArray entryTableBytes(const PluginEntryTable &table)
{
    return QByteArray(reinterpret_cast<const char *>(&table), sizeof table);
}
