#pragma once

#include "benchsession.h"
#include "commandline.h"
#include "stationoutput.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class CDeviceEventFilter;
class QWindow;

// One run of korvane-cli: the configuration, the device library and the plug-in set up
// as the window sets them up, then one action, the status, or the station loop.
class Station : public QObject
{
    Q_OBJECT

public:
    Station(StationOptions options, const StationOutput &output);
    ~Station() override;

    // Reads the configuration, sets up the device library and loads the plug-in:
    // ExitStatus::Success when all is ready, else the exit status of the refusal.
    int start();
    // Once started: the action, the status or the loop; the process's exit status.
    int run();

public slots:
    // A stop asked for by a signal: ends a wait at once, and the loop after its action.
    void requestStop();

signals:
    void stopAsked();

private:
    int readConfig();
    int loadPlugin(const QString &path);
    int runOnce();
    int runLoop();
    // The first Run check that fails for the board the status names.
    std::optional<Refusal> refusal(const QString &deviceStatus) const;
    // Runs the action on this thread; its lines are printed as they come.
    qint32 runAction(const QString &deviceStatus);
    // Waits, woken by device changes and looking again every 2 s in case one went unseen,
    // until ready says yes for a fresh scan; false when the time ran out or a stop was
    // asked for. A negative timeout waits for good.
    bool waitUntil(const std::function<bool()> &ready, int timeoutMs);
    void subscribeToDeviceChanges();

    const StationOptions options;
    const ActionParameters action;
    const StationOutput &output;
    BenchSession session;
    int announcedLevels = 0;
    std::unique_ptr<QWindow> notificationWindow;
    std::unique_ptr<CDeviceEventFilter> deviceEvents;
    bool stopRequested = false;
};
