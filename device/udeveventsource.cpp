#include "udeveventsource.h"

#include <QFileInfo>

#include <libudev.h>

namespace {

class UdevEventSource : public UsbEventSource
{
public:
    UdevEventSource(udev *context, udev_monitor *monitor)
        : context(context)
        , monitor(monitor)
    {
    }
    ~UdevEventSource() override
    {
        udev_monitor_unref(monitor);
        udev_unref(context);
    }
    UdevEventSource(const UdevEventSource &) = delete;
    UdevEventSource &operator=(const UdevEventSource &) = delete;

    int descriptor() const override { return udev_monitor_get_fd(monitor); }

    bool nextEvent(UsbEvent &event) override
    {
        // The monitor's socket is non-blocking: null means nothing is left to read.
        udev_device *device = udev_monitor_receive_device(monitor);
        if (!device)
            return false;
        event.action = udev_device_get_action(device);
        event.subsystem = udev_device_get_subsystem(device);
        event.deviceType = udev_device_get_devtype(device);
        udev_device_unref(device);
        return true;
    }

private:
    udev *context;
    udev_monitor *monitor;
};

} // namespace

std::unique_ptr<UsbEventSource> openUdevEventSource()
{
    udev *context = udev_new();
    if (!context)
        return nullptr;
    // The daemon's control socket tells whether a daemon runs to rebroadcast events.
    const char *eventSource = QFileInfo::exists(QStringLiteral("/run/udev/control")) ? "udev" : "kernel";
    udev_monitor *monitor = udev_monitor_new_from_netlink(context, eventSource);
    if (!monitor) {
        udev_unref(context);
        return nullptr;
    }
    auto source = std::make_unique<UdevEventSource>(context, monitor);
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device") < 0
        || udev_monitor_enable_receiving(monitor) < 0)
        return nullptr;
    return source;
}
