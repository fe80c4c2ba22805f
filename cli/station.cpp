#include "station.h"

#include "ZVUpgrade_DLL.h"
#include "apppaths.h"
#include "cdeviceeventfilter.h"
#include "devicelibrary.h"
#include "devicestatus.h"
#include "exitstatus.h"
#include "logmessagehandler.h"
#include "pluginloader.h"
#include "runchecks.h"
#include "threadworker.h"
#include "windowconfig.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

// Without "LOG" the debug lines would fill a script's standard error; warnings stay.
void quietMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

Station::Station(StationOptions options, const StationOutput &output)
    : options(std::move(options))
    , output(output)
{
}

Station::~Station()
{
    if (deviceLibraryReady)
        ZV_Uninitialize();
    if (library.isLoaded())
        library.unload();
}

void Station::requestStop()
{
    stopRequested = true;
    emit stopAsked();
}

int Station::run()
{
    if (options.statusOnly) {
        const DeviceScan scan = scanDevices();
        output.status(scan.status, scan.count);
        return ExitStatus::Success;
    }
    return options.loop ? runLoop() : runOnce();
}

std::optional<int> Station::readConfig()
{
    const QString configPath = options.configPath.isEmpty() ? AppPaths::configFilePath() : options.configPath;
    // The window runs on its defaults with a file it cannot use; a station must not
    // provision boards on settings it was not given.
    const QString name = options.configPath.isEmpty() ? QStringLiteral("config.json") : options.configPath;
    const WindowConfig::File read = WindowConfig::read(configPath);
    switch (read.status) {
    case WindowConfig::File::Status::Read:
        config = read.document;
        return std::nullopt;
    case WindowConfig::File::Status::Missing:
        if (options.configPath.isEmpty())
            return std::nullopt;
        break;
    case WindowConfig::File::Status::Unreadable:
        break;
    case WindowConfig::File::Status::TooLarge:
        StationOutput::error(QStringLiteral("%1 is larger than 1 MiB").arg(name));
        return ExitStatus::Refused;
    case WindowConfig::File::Status::NotJson:
        StationOutput::error(QStringLiteral("%1 is not valid JSON: %2").arg(name, read.problem));
        return ExitStatus::Refused;
    }
    StationOutput::error(QStringLiteral("cannot read %1").arg(configPath));
    return ExitStatus::Refused;
}

std::optional<int> Station::start()
{
    if (const std::optional<int> refused = readConfig())
        return refused;
    const bool logEnabled = WindowConfig::logEnabled(config);
    qInstallMessageHandler(quietMessageHandler);

    // The device library is set up exactly as the window sets it up.
    logPath = AppPaths::logDirectoryPath();
    QDir().mkpath(logPath);
    deviceLibraryReady = initializeDeviceLibrary(logEnabled, logPath);
    if (!deviceLibraryReady) {
        // The window goes on without it; nothing a station would do can work then.
        StationOutput::error(QStringLiteral("device library failed to initialise"));
        return ExitStatus::Refused;
    }
    if (logEnabled) {
        setLogFileDirectory(logPath);
        qInstallMessageHandler(logMessageHandler);
    }
    qDebug() << QStringLiteral("korvane-cli %1").arg(WindowConfig::version(config)).trimmed() << "...start";
    if (options.statusOnly)
        return std::nullopt;

    const bool trace = WindowConfig::traceEnabled(config);
    const DuplicateCpuIdGuard guard = WindowConfig::duplicateCpuIdGuard(config);
    if (!trace && guard != DuplicateCpuIdGuard::Off)
        qDebug() << "duplicate guard needs TRACE";
    // An unattended station must never write the same board twice.
    if (options.loop && options.level == RUN_ACTION_BASIC && (!trace || guard != DuplicateCpuIdGuard::Refuse)) {
        StationOutput::error(
            QStringLiteral("--loop with basic needs \"TRACE\": true and \"DUPLICATE_CPUID\": \"refuse\""));
        return ExitStatus::Refused;
    }
    if (trace)
        actionTrace = std::make_unique<ActionTrace>(AppPaths::traceDirectoryPath(), WindowConfig::traceOrigin(config), guard);

    // As at the window's start, a configured plug-in that is not there is no plug-in;
    // one named on the command line is loaded, or refused with the loader's reason.
    const QString configured = WindowConfig::pluginPath(config);
    if (!options.pluginPath.isEmpty())
        return loadPlugin(options.pluginPath);
    if (!configured.isEmpty() && QFileInfo::exists(configured))
        return loadPlugin(configured);
    return std::nullopt;
}

std::optional<int> Station::loadPlugin(const QString &path)
{
    const PluginLoadResult result = loadPluginLibrary(path, library);
    if (!result.accepted()) {
        qDebug().noquote() << result.logLine;
        StationOutput::error(QString::fromLatin1(pluginRefusalText(result)).arg(path));
        return ExitStatus::Refused;
    }
    announcedLevels = result.proofLevel;
    if (actionTrace)
        actionTrace->setPlugin(path);
    return std::nullopt;
}

const char *Station::refusal(const QString &deviceStatus) const
{
    RunRequest request;
    request.level = options.level;
    request.pluginLoaded = library.isLoaded();
    request.announcedLevels = announcedLevels;
    request.dataFile = options.dataFile;
    request.keyFile = options.keyFile;
    request.deviceStatus = deviceStatus;
    return runRefusal(request);
}

int Station::runOnce()
{
    QString status = scanDeviceStatus();
    const char *refused = refusal(status);
    if (isDeviceRefusal(refused) && options.waitSeconds) {
        const auto boardReady = [&] { return !isDeviceRefusal(refusal(status = scanDeviceStatus())); };
        if (!waitUntil(boardReady, *options.waitSeconds * 1000)) {
            StationOutput::error(QStringLiteral("no available device!"));
            return ExitStatus::Refused;
        }
        refused = refusal(status);
    }
    if (refused) {
        StationOutput::error(QString::fromLatin1(refused));
        return ExitStatus::Refused;
    }
    return ExitStatus::forAction(runAction(status));
}

int Station::runLoop()
{
    int passed = 0;
    int failed = 0;
    while (!stopRequested) {
        QString status;
        const char *refused = nullptr;
        output.waitingForBoard();
        const bool ready = waitUntil(
            [&] {
                refused = refusal(status = scanDeviceStatus());
                return !isDeviceRefusal(refused);
            },
            -1);
        if (!ready)
            break;
        if (refused) {
            StationOutput::error(QString::fromLatin1(refused));
            output.units(passed, failed, true);
            return ExitStatus::Refused;
        }
        (runAction(status) == 0 ? passed : failed)++;
        output.units(passed, failed, false);
        // The next unit is the next board: this one must go first.
        if (!waitUntil([] { return scanDevices().count == 0; }, -1))
            break;
    }
    output.units(passed, failed, true);
    return failed == 0 ? ExitStatus::Success : ExitStatus::SomeUnitsFailed;
}

qint32 Station::runAction(const QString &deviceStatus)
{
    ThreadWorker worker;
    worker.setParams(options.dataFile, options.keyFile, options.keyIndex);
    worker.setAction(options.level);
    worker.resetExitCode();
    if (actionTrace)
        actionTrace->attach(worker, deviceStatus);
    QObject::connect(&worker, &ThreadWorker::update_process, this,
        [this](const QString &text, bool error) { output.progress(text, error); });
    QElapsedTimer clock;
    clock.start();
    worker.process();
    output.result(levelName(options.level), worker.getExitCode(), clock.elapsed());
    return worker.getExitCode();
}

bool Station::waitUntil(const std::function<bool()> &ready, int timeoutMs)
{
    if (stopRequested)
        return false;
    // The same notifications as the window's: subscribed once, before the first look,
    // so that no change between the look and the wait is missed.
    if (!deviceEvents) {
        notificationWindow = std::make_unique<QWindow>();
        deviceEvents = std::make_unique<CDeviceEventFilter>();
        deviceEvents->registerEvent(notificationWindow.get());
        QCoreApplication::instance()->installNativeEventFilter(deviceEvents.get());
    }
    if (ready())
        return true;
    QEventLoop loop;
    bool readyNow = false;
    const QMetaObject::Connection changes = connect(deviceEvents.get(), &CDeviceEventFilter::deviceChanged, &loop, [&] {
        if (ready()) {
            readyNow = true;
            loop.quit();
        }
    });
    QTimer deadline;
    if (timeoutMs >= 0) {
        deadline.setSingleShot(true);
        connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(timeoutMs);
    }
    const QMetaObject::Connection stop = connect(this, &Station::stopAsked, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(changes);
    disconnect(stop);
    return readyNow;
}
