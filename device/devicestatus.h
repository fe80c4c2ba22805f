#pragma once

#include <QString>

// Scans the attached boards once and returns the status text shown in the window:
// "One Maskrom device", "One Loader device", "One invalid device", "Many devices"
// or empty. Never translated: the Run checks search it.
QString scanDeviceStatus();

// One scan's status text with the number of boards the library counted, or -1 when its
// scan failed, which the text shows as no board.
struct DeviceScan
{
    QString status;
    int count = 0;
};
DeviceScan scanDevices();
