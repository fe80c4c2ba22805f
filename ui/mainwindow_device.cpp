#include "mainwindow.h"
#include "ui_mainwindow.h"

// Device status.

void MainWindow::deviceChangedSlot() {}
