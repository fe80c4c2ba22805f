#include "mainwindow.h"
#include "ui_mainwindow.h"

// Plug-in loading and file selection.

void MainWindow::loadPlugin(QString path)
{
    Q_UNUSED(path);
}

void MainWindow::browseDllClick() {}
void MainWindow::browseBasicKeyClick() {}
void MainWindow::browseMiddlePlainClick() {}
void MainWindow::browseHighKeyClick() {}
