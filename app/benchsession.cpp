#include "benchsession.h"

#include "ZVUpgrade_DLL.h"
#include "apppaths.h"
#include "devicelibrary.h"
#include "logmessagehandler.h"
#include "threadworker.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

BenchSession::~BenchSession()
{
    releaseDeviceLibrary();
}

void BenchSession::createLogDirectory()
{
    logPath = AppPaths::logDirectoryPath();
    QDir logDirectory(logPath);
    if (!logDirectory.exists())
        logDirectory.mkpath(QStringLiteral("."));
}

WindowConfig::File BenchSession::readConfig(const QString &path)
{
    WindowConfig::File read = WindowConfig::read(path);
    if (read.status == WindowConfig::File::Status::Read)
        config = read.document;
    return read;
}

bool BenchSession::initializeDeviceLibrary()
{
    // logPath stays unchanged for the session's life: the library keeps the address.
    deviceLibraryReady = ::initializeDeviceLibrary(WindowConfig::logEnabled(config), logPath);
    return deviceLibraryReady;
}

void BenchSession::releaseDeviceLibrary()
{
    if (deviceLibraryReady)
        ZV_Uninitialize();
    deviceLibraryReady = false;
}

void BenchSession::installLogHandler() const
{
    if (!WindowConfig::logEnabled(config))
        return;
    setLogFileDirectory(logPath);
    qInstallMessageHandler(logMessageHandler);
}

void BenchSession::startTrace()
{
    if (WindowConfig::traceEnabled(config))
        actionTrace = std::make_unique<ActionTrace>(
            AppPaths::traceDirectoryPath(), WindowConfig::traceOrigin(config), WindowConfig::duplicateCpuIdGuard(config));
}

void BenchSession::noteGuardWithoutTrace() const
{
    if (!WindowConfig::traceEnabled(config) && WindowConfig::duplicateCpuIdGuard(config) != DuplicateCpuIdGuard::Off)
        qDebug() << "duplicate guard needs TRACE";
}

void BenchSession::startLineDatabase()
{
    const QString conninfo = WindowConfig::lineDb(config);
    if (conninfo.isEmpty())
        return;
    if (!WindowConfig::traceEnabled(config)) {
        qDebug() << "line database needs TRACE";
        return;
    }
    if (LineDatabase::holdsPassword(conninfo))
        qDebug() << "LINE_DB must not hold a password";
    lineStation = std::make_unique<LineStation>(
        conninfo, AppPaths::traceDirectoryPath(), WindowConfig::lineOfflinePolicy(config));
}

QString BenchSession::configuredPluginPath() const
{
    const QString path = WindowConfig::pluginPath(config);
    return !path.isEmpty() && QFileInfo::exists(path) ? path : QString();
}

PluginLoadResult BenchSession::loadPlugin(const QString &path)
{
    const PluginLoadResult result = loadPluginLibrary(path, library);
    if (!result.accepted())
        qDebug().noquote() << result.logLine;
    else if (actionTrace)
        actionTrace->setPlugin(path);
    return result;
}

void BenchSession::unloadPlugin()
{
    if (library.isLoaded())
        library.unload();
}

std::optional<Refusal> BenchSession::refusal(
    const ActionParameters &action, int announcedLevels, const QString &deviceStatus) const
{
    RunRequest request;
    request.level = action.level;
    request.pluginLoaded = library.isLoaded();
    request.announcedLevels = announcedLevels;
    request.dataFile = action.dataFile;
    request.keyFile = action.keyFile;
    request.deviceStatus = deviceStatus;
    return runRefusal(request);
}

void BenchSession::prepareWorker(ThreadWorker &worker, const ActionParameters &action, const QString &deviceStatus)
{
    worker.setParams(action.dataFile, action.keyFile, action.keyIndex);
    worker.setAction(action.level);
    worker.resetExitCode();
    if (actionTrace)
        actionTrace->attach(worker, deviceStatus);
    worker.setLineStation(lineStation.get());
}
