#pragma once

#include "mainwindow.h"

#include <QLibrary>

class ThreadWorker;

// Reaches the window's private state the way an action would set it, so close
// handling can be tested without racing a real worker thread.
class MainWindowTestAccess
{
public:
    static void setActionRunning(MainWindow &window, qint32 running) { window.actionRunning = running; }
    static void setWorker(MainWindow &window, ThreadWorker *worker) { window.worker = worker; }
    static ThreadWorker *worker(const MainWindow &window) { return window.worker; }
    static const QLibrary &library(const MainWindow &window) { return window.library; }
};
