#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "apppaths.h"
#include "devicestatus.h"
#include "windowconfig.h"

#include <QCloseEvent>
#include <QDebug>
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

    session.createLogDirectory();
    loadConfig();
    session.startTrace();
    session.initializeDeviceLibrary();

    statusLabel = new QLabel(ui->statusBar);
    ui->statusBar->insertPermanentWidget(0, statusLabel, 0);

    const QString pluginPath = session.configuredPluginPath();
    if (!pluginPath.isEmpty())
        loadPlugin(pluginPath);

    setWindowTitle(windowTitle() + QLatin1Char(' ') + WindowConfig::version(config));

    statusLabel->setText(scanDeviceStatus());

    session.installLogHandler();
    qDebug() << windowTitle() << "...start";
    session.noteGuardWithoutTrace();

    session.startLineDatabase();
    if (LineStation *line = session.lineStation.get()) {
        lineStatusLabel = new QLabel(ui->statusBar);
        lineStatusLabel->setObjectName(QStringLiteral("lineStatusLabel"));
        ui->statusBar->insertPermanentWidget(0, lineStatusLabel, 0);
        showLineState(line->state());
        connect(line, &LineStation::stateChanged, this, &MainWindow::showLineState);
        // The server is reached on a thread of its own: the window never waits for it.
        line->startBackgroundUploads();
    }
}

void MainWindow::showLineState(LineState state)
{
    // Nothing to say before the first count, which is made in the background.
    if (!state.online && state.waiting < 0)
        lineStatusLabel->clear();
    else
        lineStatusLabel->setText(state.online
                ? tr("Line: online")
                : tr("Line: offline, %n records waiting", nullptr, int(state.waiting)));
}

MainWindow::~MainWindow()
{
    delete ui;
    session.releaseDeviceLibrary();
    delete statusLabel;
}

bool MainWindow::loadConfig()
{
    // A file the window cannot use leaves it on its defaults, and never stops it.
    if (session.readConfig(AppPaths::configFilePath()).status != WindowConfig::File::Status::Read) {
        qDebug() << "failed to open config.json";
        return false;
    }
    return true;
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
    session.unloadPlugin();
    event->accept();
}
