#pragma once

#include "devicechange.h"

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Where USB device events come from: the device manager's socket in the tool, a
// scripted source in the tests.
class UsbEventSource
{
public:
    virtual ~UsbEventSource() = default;

    // A descriptor that turns readable while events are pending.
    virtual int descriptor() const = 0;
    // Takes the next pending event without blocking; false when none is pending.
    virtual bool nextEvent(UsbEvent &event) = 0;
};

// Reads a source on the thread it lives in (the GUI thread) and emits
// deviceChanged() once for each USB device added or removed.
class UsbMonitor : public QObject
{
    Q_OBJECT

public:
    explicit UsbMonitor(std::unique_ptr<UsbEventSource> source, QObject *parent = nullptr);

signals:
    void deviceChanged();

private:
    void readPendingEvents();

    std::unique_ptr<UsbEventSource> source;
    QSocketNotifier notifier;
};
