#include "mainwindow.h"

#include "devicestatus.h"

#include <QLabel>

// Device status: every device change rescans the boards and rewrites the label.

void MainWindow::deviceChangedSlot()
{
    statusLabel->setText(scanDeviceStatus());
}
