#include "station.h"

#include "apppaths.h"
#include "cdeviceeventfilter.h"
#include "devicestatus.h"
#include "exitstatus.h"
#include "runchecks.h"
#include "threadworker.h"
#include "windowconfig.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
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

// How often a wait looks at the boards again without being told of a change.
constexpr int fallbackLookMs = 2000;

} // namespace

Station::Station(StationOptions options, const StationOutput &output)
    : options(std::move(options))
    , action { this->options.level, this->options.dataFile, this->options.keyFile, this->options.keyIndex }
    , output(output)
{
}

Station::~Station()
{
    session.releaseDeviceLibrary();
    session.unloadPlugin();
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
        // Reaching the server is the test of it; what can be sent on the way is sent.
        if (LineStation *line = session.lineStation.get())
            output.lineState(line->uploadWaiting());
        return ExitStatus::Success;
    }
    return options.loop ? runLoop() : runOnce();
}

int Station::readConfig()
{
    const QString configPath = options.configPath.isEmpty() ? AppPaths::configFilePath() : options.configPath;
    // The window runs on its defaults with a file it cannot use; a station must not
    // provision boards on settings it was not given.
    const QString name = options.configPath.isEmpty() ? QStringLiteral("config.json") : options.configPath;
    const WindowConfig::File read = session.readConfig(configPath);
    switch (read.status) {
    case WindowConfig::File::Status::Read:
        return ExitStatus::Success;
    case WindowConfig::File::Status::Missing:
        if (options.configPath.isEmpty())
            return ExitStatus::Success;
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

int Station::start()
{
    if (const int status = readConfig(); status != ExitStatus::Success)
        return status;
    qInstallMessageHandler(quietMessageHandler);

    // The device library is set up exactly as the window sets it up.
    session.createLogDirectory();
    if (!session.initializeDeviceLibrary()) {
        // The window goes on without it; nothing a station would do can work then.
        StationOutput::error(QStringLiteral("device library failed to initialise"));
        return ExitStatus::Refused;
    }
    session.installLogHandler();
    qDebug() << QStringLiteral("korvane-cli %1").arg(WindowConfig::version(session.config)).trimmed() << "...start";
    if (options.statusOnly) {
        session.startLineDatabase();
        return ExitStatus::Success;
    }

    session.noteGuardWithoutTrace();
    // An unattended station must never write the same board twice.
    if (options.loop && options.level == RUN_ACTION_BASIC
        && (!WindowConfig::traceEnabled(session.config)
            || WindowConfig::duplicateCpuIdGuard(session.config) != DuplicateCpuIdGuard::Refuse)) {
        StationOutput::error(
            QStringLiteral("--loop with basic needs \"TRACE\": true and \"DUPLICATE_CPUID\": \"refuse\""));
        return ExitStatus::Refused;
    }
    session.startTrace();
    session.startLineDatabase();

    // As at the window's start, a configured plug-in that is not there is no plug-in;
    // one named on the command line is loaded, or refused with the loader's reason.
    if (!options.pluginPath.isEmpty())
        return loadPlugin(options.pluginPath);
    const QString configured = session.configuredPluginPath();
    return configured.isEmpty() ? ExitStatus::Success : loadPlugin(configured);
}

int Station::loadPlugin(const QString &path)
{
    const PluginLoadResult result = session.loadPlugin(path);
    if (const std::optional<Refusal> refused = pluginRefusal(result)) {
        StationOutput::error(QString::fromLatin1(refusalText(*refused)).arg(path));
        return ExitStatus::Refused;
    }
    announcedLevels = result.proofLevel;
    return ExitStatus::Success;
}

std::optional<Refusal> Station::refusal(const QString &deviceStatus) const
{
    return session.refusal(action, announcedLevels, deviceStatus);
}

int Station::runOnce()
{
    QString status = scanDeviceStatus();
    std::optional<Refusal> refused = refusal(status);
    if (refused && isDeviceRefusal(*refused) && options.waitSeconds) {
        const auto boardReady = [&] {
            const std::optional<Refusal> now = refusal(status = scanDeviceStatus());
            return !now || !isDeviceRefusal(*now);
        };
        if (!waitUntil(boardReady, *options.waitSeconds * 1000)) {
            StationOutput::error(QString::fromLatin1(refusalText(Refusal::NoDevice)));
            return ExitStatus::Refused;
        }
        refused = refusal(status);
    }
    if (refused) {
        StationOutput::error(QString::fromLatin1(refusalText(*refused)));
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
        std::optional<Refusal> refused;
        output.waitingForBoard();
        const bool ready = waitUntil(
            [&] {
                refused = refusal(status = scanDeviceStatus());
                return !refused || !isDeviceRefusal(*refused);
            },
            -1);
        if (!ready)
            break;
        if (refused) {
            StationOutput::error(QString::fromLatin1(refusalText(*refused)));
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
    session.prepareWorker(worker, action, deviceStatus);
    QObject::connect(&worker, &ThreadWorker::update_process, this,
        [this](const QString &text, bool error) { output.progress(text, error); });
    QElapsedTimer clock;
    clock.start();
    worker.process();
    output.result(levelName(options.level), worker.getExitCode(), clock.elapsed());
    return worker.getExitCode();
}

void Station::subscribeToDeviceChanges()
{
    // The same notifications as the window's: subscribed once, before the first look,
    // so that no change between the look and the wait is missed.
    if (deviceEvents)
        return;
    notificationWindow = std::make_unique<QWindow>();
    deviceEvents = std::make_unique<CDeviceEventFilter>();
    deviceEvents->registerEvent(notificationWindow.get());
    QCoreApplication::instance()->installNativeEventFilter(deviceEvents.get());
}

bool Station::waitUntil(const std::function<bool()> &ready, int timeoutMs)
{
    if (stopRequested)
        return false;
    subscribeToDeviceChanges();
    if (ready())
        return true;
    QEventLoop loop;
    bool readyNow = false;
    const auto lookAgain = [&] {
        if (ready()) {
            readyNow = true;
            loop.quit();
        }
    };
    const QMetaObject::Connection changes
        = connect(deviceEvents.get(), &CDeviceEventFilter::deviceChanged, &loop, lookAgain);
    // A station must not wait for good on one lost notification: it looks again now and then.
    QTimer fallback;
    connect(&fallback, &QTimer::timeout, &loop, lookAgain);
    fallback.start(fallbackLookMs);
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
