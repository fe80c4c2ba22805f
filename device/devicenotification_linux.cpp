#include "devicenotification.h"

#include "cdeviceeventfilter.h"
#include "udeveventsource.h"
#include "usbmonitor.h"

namespace DeviceNotification {

// One monitor serves every registered window: a second one would report each change
// twice. It is a child of the filter, so it lives exactly as long.
void subscribe(CDeviceEventFilter *filter, QWindow *)
{
    if (filter->findChild<UsbMonitor *>(QString(), Qt::FindDirectChildrenOnly))
        return;
    std::unique_ptr<UsbEventSource> source = openUdevEventSource();
    if (!source) {
        qDebug("failed to open USB device monitor");
        return;
    }
    auto *monitor = new UsbMonitor(std::move(source), filter);
    QObject::connect(monitor, &UsbMonitor::deviceChanged, filter, &CDeviceEventFilter::deviceChanged);
}

bool readWindowsMessage(const void *, quint32 *, quintptr *)
{
    return false;
}

} // namespace DeviceNotification
