#pragma once

#include "testbench.h"

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// What one run of korvane-cli left.
struct CliRun
{
    int status = -1; // -1: crashed or never ended
    QStringList out, err;
};

// Lines whatever the platform's line end.
QStringList linesOf(const QByteArray &bytes);
// Reads lines into lines until one starts with awaited; false when the program ended first.
bool readUntil(QProcess &process, QStringList &lines, const QString &awaited);
// Waits for the program's end and takes what it printed after out.
CliRun finishRun(QProcess &process, const QStringList &out = {});
// Runs a program to its end.
CliRun runProgram(const QString &program, const QStringList &arguments);

// korvane-cli as a station runs it: a copy of the program in a folder of its own beside its
// config.json, with its own simulated bench and plug-in journal. Under Wine, the copy
// finds Qt and the device library in the build's folder.
class CliStation
{
public:
    // program: the built korvane-cli; directory: made when missing.
    CliStation(const QString &program, const QString &directory);

    bool isValid() const { return !copy.isEmpty(); }
    QString filePath(const QString &name) const;
    TestBench &bench() { return testBench; }

    // A file of the folder, name relative to it; its path.
    QString writeFile(const QString &name, const QByteArray &content) const;
    // config.json with the recording test plug-in as "DLL" unless config names one.
    void writeConfig(QJsonObject config) const;
    // The same command line may run it again while an earlier run still goes on.
    std::unique_ptr<QProcess> start(const QStringList &arguments) const;
    CliRun run(const QStringList &arguments) const;
    // Every run's log files (App*.log in log/) as one.
    QByteArray log() const;
    // The plug-in's calls of every run so far, getProofLevel left out.
    QStringList pluginCalls() const;

    // Sets a process up as the station's: its folder's bench, journal and environment.
    void prepare(QProcess &process, const QString &executable, const QStringList &arguments) const;

private:
    QString directory;
    QString program;
    QString copy;
    TestBench testBench;
};
