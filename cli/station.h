#pragma once

#include "runaction.h"
#include "stationoutput.h"
#include "actiontrace.h"

#include <QJsonDocument>
#include <QLibrary>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class CDeviceEventFilter;
class QWindow;

struct StationOptions
{
    RunAction_T level = RUN_ACTION_BASIC;
    bool statusOnly = false;
    QString dataFile;
    QString keyFile;
    quint8 keyIndex = 0;
    QString configPath; // empty: config.json beside the program
    QString pluginPath; // empty: "DLL" from the configuration
    std::optional<int> waitSeconds;
    bool loop = false;
    bool json = false;
};

// One run of korvane-cli: the configuration, the device library and the plug-in set up
// as the window sets them up, then one action, the status, or the station loop.
class Station : public QObject
{
    Q_OBJECT

public:
    Station(StationOptions options, const StationOutput &output);
    ~Station() override;

    // Reads the configuration, sets up the device library and loads the plug-in: the
    // exit status (exitstatus.h) when it refused, else nothing.
    std::optional<int> start();
    // Once started: the action, the status or the loop; the process's exit status.
    int run();

public slots:
    // A stop asked for by a signal: ends a wait at once, and the loop after its action.
    void requestStop();

signals:
    void stopAsked();

private:
    std::optional<int> readConfig();
    std::optional<int> loadPlugin(const QString &path);
    int runOnce();
    int runLoop();
    // The text of the first Run check that fails for the current board, or nullptr.
    const char *refusal(const QString &deviceStatus) const;
    // Runs the action on this thread; its lines are printed as they come.
    qint32 runAction(const QString &deviceStatus);
    // Waits, woken by device changes only, until ready says yes for a fresh scan; false
    // when the time ran out or a stop was asked for. A negative timeout waits for good.
    bool waitUntil(const std::function<bool()> &ready, int timeoutMs);

    const StationOptions options;
    const StationOutput &output;
    QJsonDocument config;
    QLibrary library;
    int announcedLevels = 0;
    bool deviceLibraryReady = false;
    QString logPath;
    // Present only with "TRACE" on.
    std::unique_ptr<ActionTrace> actionTrace;
    std::unique_ptr<QWindow> notificationWindow;
    std::unique_ptr<CDeviceEventFilter> deviceEvents;
    bool stopRequested = false;
};
