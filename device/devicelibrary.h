#pragma once

#include <QString>

// Initialises the device library as every Korvane program does: ten transfer retries,
// 30 s per transfer, and with logEnabled the log directory. The library may keep the
// directory's address: the string must stay unchanged for as long as the library is in
// use. True when the library is ready; it is then released with ZV_Uninitialize().
bool initializeDeviceLibrary(bool logEnabled, const QString &logDirectory);
