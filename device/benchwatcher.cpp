#include "benchwatcher.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Null for a missing file, so that removing bench.json counts as a change.
QByteArray readBenchFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray content = file.readAll();
    return content.isNull() ? QByteArray("") : content;
}

} // namespace

BenchWatcher::BenchWatcher(const QString &benchFilePath, QObject *parent)
    : QObject(parent)
    , filePath(QFileInfo(benchFilePath).absoluteFilePath())
    , directoryPath(QFileInfo(filePath).absolutePath())
    , lastContent(readBenchFile(filePath))
{
    connect(&watcher, &QFileSystemWatcher::fileChanged, this, &BenchWatcher::onChange);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, &BenchWatcher::onChange);
    rearm();
}

void BenchWatcher::rearm()
{
    // An atomic replacement leaves the watch on the old file: watch the path afresh.
    if (!watcher.files().isEmpty())
        watcher.removePaths(watcher.files());
    if (QFileInfo::exists(filePath))
        watcher.addPath(filePath);

    const QString directory
        = QFileInfo::exists(directoryPath) ? directoryPath : QFileInfo(directoryPath).absolutePath();
    if (!watcher.directories().contains(directory)) {
        if (!watcher.directories().isEmpty())
            watcher.removePaths(watcher.directories());
        watcher.addPath(directory);
    }
}

void BenchWatcher::onChange()
{
    rearm();
    QByteArray content = readBenchFile(filePath);
    if (content == lastContent && content.isNull() == lastContent.isNull())
        return;
    lastContent = std::move(content);
    emit benchChanged();
}
