#pragma once

#include "mainwindow.h"

#include <QLibrary>
#include <QString>
#include <QtGlobal>

class ThreadWorker;

// Reaches the window's private state the way an action would set it, so close
// handling can be tested without racing a real worker thread.
class MainWindowTestAccess
{
public:
    static void setActionRunning(MainWindow &window, qint32 running) { window.actionRunning = running; }
    static void setWorker(MainWindow &window, ThreadWorker *worker) { window.worker = worker; }
    static QString logPath(const MainWindow &window) { return window.logPath; }
    static bool deviceLibraryReady(const MainWindow &window) { return window.deviceLibraryReady; }
    static const QLibrary &library(const MainWindow &window) { return window.library; }
};

// The window may install the log file handler for the rest of the process. This puts
// back whatever handler was active when it was made (the test framework's), and tells
// which handler the window left installed.
class MessageHandlerGuard
{
public:
    MessageHandlerGuard()
        : previous(qInstallMessageHandler(nullptr))
    {
        qInstallMessageHandler(previous);
    }
    ~MessageHandlerGuard() { qInstallMessageHandler(previous); }

    QtMessageHandler installedNow() const
    {
        const QtMessageHandler current = qInstallMessageHandler(previous);
        qInstallMessageHandler(current);
        return current;
    }

private:
    QtMessageHandler previous;
};
