#pragma once

#include "benchsession.h"
#include "runaction.h"

#include <QJsonDocument>
#include <QLibrary>
#include <QMainWindow>
#include <QString>

class QCloseEvent;
class QLabel;
class ThreadWorker;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

public slots:
    void deviceChangedSlot();

private slots:
    void browseDllClick();
    void basicRunClick();
    void middleRunClick();
    void highRunClick();
    void browseMiddlePlainClick();
    void browseHighKeyClick();
    void browseBasicKeyClick();
    void on_prepare_action();
    void on_post_action();
    void on_update_progress(QString text, bool error);
    void showLineState(LineState state);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool loadConfig();
    bool saveConfig();
    void loadPlugin(QString path);
    void refuseAction(const QString &text);
    void runLevel(const ActionParameters &action);
    void launchAction(const ActionParameters &action);

    Ui::MainWindow *ui;
    // What the window holds of a running Korvane; the members below are its parts.
    BenchSession session;
    QJsonDocument &config = session.config;
    QLibrary &library = session.library;
    bool &deviceLibraryReady = session.deviceLibraryReady;
    QString &logPath = session.logPath;
    QLabel *statusLabel = nullptr;
    // Only with a line database.
    QLabel *lineStatusLabel = nullptr;
    ThreadWorker *worker = nullptr;
    qint32 actionRunning = 0;

    // Lets the window's tests put it into the busy states an action would.
    friend class MainWindowTestAccess;
};
