#include "devicechange.h"

bool isDeviceChangeMessage(quint32 message, quintptr wParam)
{
    if (message != DeviceMessage::DeviceChange)
        return false;
    return wParam == DeviceMessage::DeviceArrival || wParam == DeviceMessage::DeviceRemoveComplete
        || wParam == DeviceMessage::DevNodesChanged;
}

bool isUsbDeviceChange(const UsbEvent &event)
{
    return (event.action == "add" || event.action == "remove") && event.subsystem == "usb"
        && event.deviceType == "usb_device";
}
