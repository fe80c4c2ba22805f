#include "cdeviceeventfilter.h"

#include "devicechange.h"
#include "devicenotification.h"

#ifdef KORVANE_SIMULATED_BENCH
#include "bench.h"
#include "benchwatcher.h"
#endif

#include <QMetaType>
#include <QWindow>

namespace {

#ifdef KORVANE_SIMULATED_BENCH
// Started once, like the platform monitor, and owned by the filter.
void watchSimulatedBench(CDeviceEventFilter *filter)
{
    if (filter->findChild<BenchWatcher *>(QString(), Qt::FindDirectChildrenOnly))
        return;
    const ZvSim::Bench bench(ZvSim::Bench::defaultDirectory());
    auto *watcher = new BenchWatcher(bench.benchFilePath(), filter);
    if (!watcher->isWatching()) {
        qDebug("failed to watch the simulated bench");
        delete watcher;
        return;
    }
    QObject::connect(watcher, &BenchWatcher::benchChanged, filter, &CDeviceEventFilter::deviceChanged);
}
#endif

} // namespace

CDeviceEventFilter::CDeviceEventFilter(QObject *parent)
    : QObject(parent)
{
    // Lets registerEvent be invoked through the meta-object as well.
    qRegisterMetaType<QWindow *>("QWindow*");
}

bool CDeviceEventFilter::nativeEventFilter(const QByteArray &, void *message, qintptr *)
{
    quint32 code = 0;
    quintptr wParam = 0;
    if (DeviceNotification::readWindowsMessage(message, &code, &wParam)
        && isDeviceChangeMessage(code, wParam))
        emit deviceChanged();
    return false;
}

void CDeviceEventFilter::registerEvent(QWindow *window)
{
    if (!window)
        return;
    DeviceNotification::subscribe(this, window);
#ifdef KORVANE_SIMULATED_BENCH
    watchSimulatedBench(this);
#endif
}
