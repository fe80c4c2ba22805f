#pragma once

#include "runaction.h"

#include <QJsonDocument>
#include <QLibrary>
#include <QMainWindow>
#include <QString>

#include <memory>

class QCloseEvent;
class QLabel;
class ActionTrace;
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

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool loadConfig();
    bool saveConfig();
    void loadPlugin(QString path);
    void refuseAction(const QString &text);
    void runLevel(RunAction_T level, const QString &plainFile, const QString &keyFile, quint8 keyIndex);
    void startTrace();
    void launchAction(RunAction_T level, const QString &plainFile, const QString &keyFile, quint8 keyIndex);

    Ui::MainWindow *ui;
    QJsonDocument config;
    QLibrary library;
    bool deviceLibraryReady = false;
    QString logPath;
    QLabel *statusLabel = nullptr;
    ThreadWorker *worker = nullptr;
    qint32 actionRunning = 0;
    // Present only with "TRACE" on.
    std::unique_ptr<ActionTrace> actionTrace;

    // Lets the window's tests put it into the busy states an action would.
    friend class MainWindowTestAccess;
};
