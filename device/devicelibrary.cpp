#include "devicelibrary.h"

#include "ZVUpgrade_DLL.h"

#include <QDebug>

bool initializeDeviceLibrary(bool logEnabled, const QString &logDirectory)
{
    ZV_Settings settings = {};
    settings.transferRetries = 10;
    settings.transferTimeoutSeconds = 30;
    ZV_LogSettings log = {};
    log.enabled = logEnabled ? 1 : 0;
    log.directory = logEnabled ? logDirectory.utf16() : nullptr;
    ZV_Extra extra = {};
    // The address handed to the library, for matching its own log with ours.
    qDebug() << static_cast<const void *>(log.directory);
    return ZV_InitializeW(settings, log, extra) != 0;
}
