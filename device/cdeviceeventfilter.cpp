#include "cdeviceeventfilter.h"

#include <QWindow>

CDeviceEventFilter::CDeviceEventFilter(QObject *parent)
    : QObject(parent)
{
}

bool CDeviceEventFilter::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result)
{
    Q_UNUSED(eventType);
    Q_UNUSED(message);
    Q_UNUSED(result);
    return false;
}

void CDeviceEventFilter::registerEvent(QWindow *window)
{
    Q_UNUSED(window);
}
