#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "ZVUpgrade_DLL.h"
#include "apppaths.h"
#include "devicelibrary.h"
#include "devicestatus.h"
#include "logmessagehandler.h"
#include "actiontrace.h"
#include "windowconfig.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QJsonValue>
#include <QLabel>
#include <QMessageBox>
#include <QSaveFile>
#include <QStatusBar>

// Construction, configuration and close handling.

namespace {

// Replaces the file only once the new content is complete, so a crash or a full
// disk leaves the previous configuration, the user's other keys included.
bool writeFileAtomically(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(content) != content.size())
        return false;
    return file.commit();
}

// The same for a copy of a regular file, of any size.
bool copyFileAtomically(const QString &source, const QString &target)
{
    QFile in(source);
    // A named pipe or a device would block the read.
    if (!QFileInfo(source).isFile() || !in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    do {
        chunk = in.read(64 * 1024);
        if (in.error() != QFileDevice::NoError || out.write(chunk) != chunk.size())
            return false;
    } while (!chunk.isEmpty());
    return out.commit();
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    logPath = AppPaths::logDirectoryPath();
    QDir logDirectory(logPath);
    if (!logDirectory.exists())
        logDirectory.mkpath(QStringLiteral("."));

    loadConfig();
    startTrace();

    // logPath stays unchanged for the window's life.
    deviceLibraryReady = initializeDeviceLibrary(WindowConfig::logEnabled(config), logPath);

    statusLabel = new QLabel(ui->statusBar);
    ui->statusBar->insertPermanentWidget(0, statusLabel, 0);

    const QString pluginPath = WindowConfig::pluginPath(config);
    if (!pluginPath.isEmpty() && QFileInfo::exists(pluginPath))
        loadPlugin(pluginPath);

    setWindowTitle(windowTitle() + QLatin1Char(' ') + WindowConfig::version(config));

    statusLabel->setText(scanDeviceStatus());

    if (WindowConfig::logEnabled(config)) {
        setLogFileDirectory(logPath);
        qInstallMessageHandler(logMessageHandler);
    }

    qDebug() << windowTitle() << "...start";
    if (!actionTrace && WindowConfig::duplicateCpuIdGuard(config) != DuplicateCpuIdGuard::Off)
        qDebug() << "duplicate guard needs TRACE";
}

MainWindow::~MainWindow()
{
    delete ui;
    if (deviceLibraryReady)
        ZV_Uninitialize();
    delete statusLabel;
}

bool MainWindow::loadConfig()
{
    // A file the window cannot use leaves it on its defaults, and never stops it.
    const WindowConfig::File read = WindowConfig::read(AppPaths::configFilePath());
    if (read.status != WindowConfig::File::Status::Read) {
        qDebug() << "failed to open config.json";
        return false;
    }
    config = read.document;
    return true;
}

void MainWindow::startTrace()
{
    if (WindowConfig::traceEnabled(config))
        actionTrace = std::make_unique<ActionTrace>(AppPaths::traceDirectoryPath(),
            WindowConfig::traceOrigin(config), WindowConfig::duplicateCpuIdGuard(config));
}

bool MainWindow::saveConfig()
{
    QJsonObject root = config.object();
    const QString pluginPath = ui->dllEdit->text();
    if (pluginPath == root.value(WindowConfig::dllKey).toString())
        return true;

    root.insert(WindowConfig::dllKey, pluginPath);
    const QString path = AppPaths::configFilePath();
    // A file whose settings were not used would be lost to "DLL" alone: its text is kept.
    if (!config.isObject() && QFileInfo::exists(path)) {
        if (!copyFileAtomically(path, path + QStringLiteral(".bak"))) {
            qDebug() << "failed to save config.json";
            return false;
        }
        qDebug() << "kept unreadable config.json as config.json.bak";
    }
    config.setObject(root);
    if (!writeFileAtomically(path, config.toJson(QJsonDocument::Indented))) {
        qDebug() << "failed to save config.json";
        return false;
    }
    return true;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A launched worker is set before its thread has started and raised actionRunning;
    // closing in that gap would unload the plug-in under it.
    if (actionRunning == 1 || worker) {
        QMessageBox::warning(this, tr("Korvane"), tr("Action is still running,stop quit!"), QMessageBox::Ok,
            QMessageBox::NoButton);
        event->ignore();
        return;
    }
    saveConfig();
    if (library.isLoaded())
        library.unload();
    event->accept();
}
