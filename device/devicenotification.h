#pragma once

#include <QtGlobal>

class CDeviceEventFilter;
class QWindow;

// The platform side of CDeviceEventFilter: one implementation per platform, chosen
// by the build (devicenotification_win.cpp, devicenotification_linux.cpp).
namespace DeviceNotification {

// Starts delivering USB device changes for window to filter->deviceChanged().
void subscribe(CDeviceEventFilter *filter, QWindow *window);

// Reads the message code and wParam of a native Windows message; false where the
// platform has no such messages.
bool readWindowsMessage(const void *message, quint32 *code, quintptr *wParam);

} // namespace DeviceNotification
