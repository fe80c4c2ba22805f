#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

class QWindow;

// Turns the platform's USB device-change notifications into deviceChanged().
//
// Windows: registerEvent subscribes the window to USB device-interface messages and
// nativeEventFilter picks the arrivals, removals and device-tree changes out of them.
// Linux: registerEvent starts a monitor of the device manager's USB events, read on
// the GUI thread. With the simulated device library, registerEvent also starts
// watching the simulated bench, whose changes stand in for USB events.
class CDeviceEventFilter : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit CDeviceEventFilter(QObject *parent = nullptr);

    // Never consumes a message: Qt goes on processing it as usual.
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void deviceChanged();

public slots:
    // Does nothing for a null window.
    void registerEvent(QWindow *window);
};
