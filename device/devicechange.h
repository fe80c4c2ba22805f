#pragma once

#include <QByteArray>
#include <QtGlobal>

// The decisions behind deviceChanged(), kept apart from the platform glue so that
// every platform builds and tests them.

// Windows message and event codes, as the device-change notification carries them.
namespace DeviceMessage {
constexpr quint32 DeviceChange = 0x0219; // WM_DEVICECHANGE
constexpr quintptr DeviceArrival = 0x8000; // DBT_DEVICEARRIVAL
constexpr quintptr DeviceRemoveComplete = 0x8004; // DBT_DEVICEREMOVECOMPLETE
constexpr quintptr DevNodesChanged = 0x0007; // DBT_DEVNODES_CHANGED
} // namespace DeviceMessage

// True for a device-change message announcing an arrival, a completed removal or a
// change of the device tree; every other message or event code is ignored.
bool isDeviceChangeMessage(quint32 message, quintptr wParam);

// One event of the Linux device manager, reduced to what the decision needs.
struct UsbEvent
{
    QByteArray action;
    QByteArray subsystem;
    QByteArray deviceType;
};

// True when a whole USB device was added or removed. Its interfaces and the driver
// binds that follow them are ignored, so one plug-in gives one change.
bool isUsbDeviceChange(const UsbEvent &event);
