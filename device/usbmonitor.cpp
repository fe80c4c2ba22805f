#include "usbmonitor.h"

UsbMonitor::UsbMonitor(std::unique_ptr<UsbEventSource> eventSource, QObject *parent)
    : QObject(parent)
    , source(std::move(eventSource))
    , notifier(source->descriptor(), QSocketNotifier::Read)
{
    connect(&notifier, &QSocketNotifier::activated, this, &UsbMonitor::readPendingEvents);
}

void UsbMonitor::readPendingEvents()
{
    UsbEvent event;
    while (source->nextEvent(event)) {
        if (isUsbDeviceChange(event))
            emit deviceChanged();
    }
}
