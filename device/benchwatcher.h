#pragma once

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

// The simulated bench has no USB events of its own: its boards live in bench.json.
// Watches that file and its directory and emits benchChanged() whenever the file's
// content differs from what was last seen, whether it was rewritten in place,
// atomically replaced, created or removed. A missing bench directory is waited for
// through its parent.
class BenchWatcher : public QObject
{
    Q_OBJECT

public:
    explicit BenchWatcher(const QString &benchFilePath, QObject *parent = nullptr);

    bool isWatching() const { return !watcher.files().isEmpty() || !watcher.directories().isEmpty(); }

signals:
    void benchChanged();

private:
    void rearm();
    void onChange();

    QString filePath;
    QString directoryPath;
    QFileSystemWatcher watcher;
    QByteArray lastContent;
};
