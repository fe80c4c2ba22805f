#include "devicenotification.h"

#include <QWindow>

#include <windows.h>

#include <dbt.h>

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "filter record is 32 bytes");

namespace DeviceNotification {

// The window's own WM_DEVICECHANGE messages carry the changes; the filter reads them.
void subscribe(CDeviceEventFilter *, QWindow *window)
{
    // GUID_DEVINTERFACE_USB_DEVICE, spelled out to need no extra header or library.
    static const GUID usbDeviceInterface
        = { 0xA5DCBF10, 0x6530, 0x11D2, { 0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED } };
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    ZeroMemory(&filter, sizeof(filter));
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = usbDeviceInterface;

    // The handle is never unregistered: the registration ends with the window.
    if (!RegisterDeviceNotificationW(
            reinterpret_cast<HWND>(window->winId()), &filter, DEVICE_NOTIFY_WINDOW_HANDLE))
        qDebug("failed to register device notification");
}

bool readWindowsMessage(const void *message, quint32 *code, quintptr *wParam)
{
    const MSG *msg = static_cast<const MSG *>(message);
    *code = msg->message;
    *wParam = msg->wParam;
    return true;
}

} // namespace DeviceNotification
