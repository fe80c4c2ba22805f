#pragma once

#include <QString>
#include <QTemporaryDir>

// A private application directory for one test: config.json, the log directory and
// the simulated bench (ZVSIM_BENCH) all live in a temporary directory that is removed
// afterwards, so tests never touch a user's files and can run in parallel.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();

    bool isValid() const { return directory.isValid(); }
    QString applicationDirectory() const { return directory.path(); }
    QString benchDirectory() const { return directory.filePath(QStringLiteral("bench")); }
    QString filePath(const QString &name) const { return directory.filePath(name); }

    // Writes a file of the given content into the application directory; returns its path.
    QString writeFile(const QString &name, const QByteArray &content) const;
    // Today's log file (App<yyyy-MM-dd>.log in the log directory); empty when there is none.
    QByteArray logFile() const;

private:
    QTemporaryDir directory;
    QByteArray previousBench;
};

// A file's whole content; empty when it cannot be read.
QByteArray readFile(const QString &path);
