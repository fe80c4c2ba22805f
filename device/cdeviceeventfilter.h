#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

class QWindow;

// Turns the platform's USB device-change notifications into deviceChanged().
class CDeviceEventFilter : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit CDeviceEventFilter(QObject *parent = nullptr);

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void deviceChanged();

public slots:
    void registerEvent(QWindow *window);
};
