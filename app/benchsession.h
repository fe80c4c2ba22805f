#pragma once

#include "actiontrace.h"
#include "linestation.h"
#include "pluginloader.h"
#include "runaction.h"
#include "runchecks.h"
#include "windowconfig.h"

#include <QJsonDocument>
#include <QLibrary>
#include <QString>

#include <memory>
#include <optional>

class ThreadWorker;

// One action as asked for: the level and the files it takes.
struct ActionParameters
{
    RunAction_T level = RUN_ACTION_BASIC;
    QString dataFile; // Middle
    QString keyFile; // Basic (may be empty), High
    quint8 keyIndex = 0; // High
};

// What a running Korvane holds, the window and korvane-cli alike: the configuration read
// at start, the log directory and file handler, the device library from its set-up to its
// release, the trace of the actions and the loaded plug-in; and the workers it launches.
// Each program takes the steps in its own order, and neither has a copy of one.
class BenchSession
{
public:
    BenchSession() = default;
    // Releases the device library if the program has not.
    ~BenchSession();
    Q_DISABLE_COPY_MOVE(BenchSession)

    // The directory "log" beside the executable, made when missing, whether or not "LOG"
    // is on: the device library's log goes there too.
    void createLogDirectory();
    // Reads the configuration file; what it holds becomes config when it could be read.
    WindowConfig::File readConfig(const QString &path);
    // With the log as "LOG" says; false when the library refused.
    bool initializeDeviceLibrary();
    void releaseDeviceLibrary();
    // Has every message logged to the day's file from now on, when "LOG" is on.
    void installLogHandler() const;
    // With "TRACE" on, the trace of the actions, guarded as "DUPLICATE_CPUID" says.
    void startTrace();
    // Logs, once at start, that a duplicate guard was asked for without a trace to keep it.
    void noteGuardWithoutTrace() const;
    // With "LINE_DB" and "TRACE", the station's side of the line database; it does not
    // connect here. A connection string it cannot use is logged and leaves it unreachable.
    void startLineDatabase();

    // The configured plug-in when its file is there: one that is not is no plug-in.
    QString configuredPluginPath() const;
    // Loads the plug-in into library, or keeps the one loaded; the trace names an accepted one.
    PluginLoadResult loadPlugin(const QString &path);
    void unloadPlugin();

    // The first of the Run checks that fails for the action on the board the status names.
    std::optional<Refusal> refusal(
        const ActionParameters &action, int announcedLevels, const QString &deviceStatus) const;
    // Sets a worker up for one action from exit code 0, recorded by the trace when it is on.
    void prepareWorker(ThreadWorker &worker, const ActionParameters &action, const QString &deviceStatus);

    QJsonDocument config;
    QLibrary library;
    bool deviceLibraryReady = false;
    QString logPath;
    // Present only with "TRACE" on.
    std::unique_ptr<ActionTrace> actionTrace;
    // Present only with "LINE_DB" and "TRACE".
    std::unique_ptr<LineStation> lineStation;
};
