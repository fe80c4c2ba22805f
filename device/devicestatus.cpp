#include "devicestatus.h"

#include "ZVUpgrade_DLL.h"

QString scanDeviceStatus()
{
    return scanDevices().status;
}

DeviceScan scanDevices()
{
    ZV_DeviceRecord *devices = nullptr;
    const int32_t count = ZV_ScanDeviceW(&devices);
    if (count == 1) {
        // The list belongs to the library and is read right away, never kept.
        const int32_t state = devices ? devices->bootState : 0;
        if (state == ZV_BOOT_STATE_MASKROM)
            return { QStringLiteral("One Maskrom device"), count };
        if (state == ZV_BOOT_STATE_LOADER)
            return { QStringLiteral("One Loader device"), count };
        return { QStringLiteral("One invalid device"), count };
    }
    if (count > 1)
        return { QStringLiteral("Many devices"), count };
    // A negative count is the library's failure: no board to act on.
    return { QString(), qMax(count, -1) };
}
