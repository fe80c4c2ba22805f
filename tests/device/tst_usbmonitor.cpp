#include "usbmonitor.h"

#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

// Scripted events. Each one also puts a byte into a pipe, so the monitor's socket
// notifier wakes just as it does on the device manager's socket.
struct ScriptedEventSource : UsbEventSource
{
    int fds[2] = { -1, -1 };
    QList<UsbEvent> pending;

    ~ScriptedEventSource() override
    {
        close(fds[0]);
        close(fds[1]);
    }
    int descriptor() const override { return fds[0]; }
    bool nextEvent(UsbEvent &event) override
    {
        char byte;
        if (pending.isEmpty() || read(fds[0], &byte, 1) != 1)
            return false;
        event = pending.takeFirst();
        return true;
    }
    bool push(const char *actionSubsystemAndType)
    {
        const QList<QByteArray> fields = QByteArray(actionSubsystemAndType).split(' ');
        pending.append({ fields[0], fields[1], fields[2] });
        return write(fds[1], "e", 1) == 1;
    }
};

class TestUsbMonitor : public QObject
{
    Q_OBJECT

private slots:
    void emitsOncePerUsbDevice()
    {
        auto owned = std::make_unique<ScriptedEventSource>();
        ScriptedEventSource *source = owned.get();
        QCOMPARE(pipe(source->fds), 0);
        UsbMonitor monitor(std::move(owned));
        QSignalSpy changes(&monitor, &UsbMonitor::deviceChanged);

        QVERIFY(source->push("add usb usb_device"));
        QVERIFY(source->push("remove usb usb_device"));
        QTRY_VERIFY(source->pending.isEmpty());
        QCOMPARE(changes.count(), 2);
        // A board's interfaces and driver binds are no further change, nor are a disk or a
        // device of another subsystem.
        for (const char *event : { "add usb usb_interface", "bind usb usb_interface", "bind usb usb_device",
                 "add block disk", "add usbmisc usb_device" })
            QVERIFY(source->push(event));
        QTRY_VERIFY(source->pending.isEmpty());
        QCOMPARE(changes.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestUsbMonitor)
#include "tst_usbmonitor.moc"
