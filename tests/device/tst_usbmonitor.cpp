#include "udeveventsource.h"
#include "usbmonitor.h"

#include <QList>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

namespace {

// Events scripted by the test. Each queued event also puts a byte into a pipe, so
// the monitor's socket notifier wakes just as it does on the device manager's socket.
class ScriptedEventSource : public UsbEventSource
{
public:
    ScriptedEventSource()
    {
        if (pipe(fds) != 0)
            qFatal("cannot create a pipe");
    }
    ~ScriptedEventSource() override
    {
        close(fds[0]);
        close(fds[1]);
    }

    int descriptor() const override { return fds[0]; }

    bool nextEvent(UsbEvent &event) override
    {
        if (pending.isEmpty())
            return false;
        char byte;
        if (read(fds[0], &byte, 1) != 1)
            qFatal("scripted event without its byte");
        event = pending.takeFirst();
        return true;
    }

    void push(const QByteArray &action, const QByteArray &subsystem, const QByteArray &deviceType)
    {
        pending.append({ action, subsystem, deviceType });
        if (write(fds[1], "e", 1) != 1)
            qFatal("cannot signal a scripted event");
    }
    bool drained() const { return pending.isEmpty(); }

private:
    int fds[2] = { -1, -1 };
    QList<UsbEvent> pending;
};

} // namespace

class TestUsbMonitor : public QObject
{
    Q_OBJECT

private slots:
    void emitsOncePerUsbDevice();
    void deviceManagerSourceDoesNotBlock();
};

void TestUsbMonitor::emitsOncePerUsbDevice()
{
    auto owned = std::make_unique<ScriptedEventSource>();
    ScriptedEventSource *source = owned.get();
    UsbMonitor monitor(std::move(owned));
    QSignalSpy changes(&monitor, &UsbMonitor::deviceChanged);

    source->push("add", "usb", "usb_device");
    QTRY_COMPARE(changes.count(), 1);
    source->push("remove", "usb", "usb_device");
    QTRY_COMPARE(changes.count(), 2);

    // A board plugged in: the device, its interface and the driver binds arrive
    // together and count as one change; a disk, or a device of another subsystem,
    // counts as none.
    source->push("add", "usb", "usb_device");
    source->push("add", "usb", "usb_interface");
    source->push("bind", "usb", "usb_interface");
    source->push("bind", "usb", "usb_device");
    source->push("add", "block", "disk");
    source->push("add", "usbmisc", "usb_device");
    QTRY_VERIFY(source->drained());
    QCOMPARE(changes.count(), 3);

    // Two boards in one burst are two changes.
    source->push("remove", "usb", "usb_device");
    source->push("add", "usb", "usb_device");
    QTRY_VERIFY(source->drained());
    QCOMPARE(changes.count(), 5);
}

void TestUsbMonitor::deviceManagerSourceDoesNotBlock()
{
    std::unique_ptr<UsbEventSource> source = openUdevEventSource();
    if (!source)
        QSKIP("no USB event monitor can be opened on this system");
    QVERIFY(source->descriptor() >= 0);
    // Read on the GUI thread: once nothing is pending it must return at once.
    UsbEvent event;
    int drained = 0;
    while (drained < 1000 && source->nextEvent(event))
        ++drained;
    QVERIFY(drained < 1000);
}

QTEST_GUILESS_MAIN(TestUsbMonitor)
#include "tst_usbmonitor.moc"
