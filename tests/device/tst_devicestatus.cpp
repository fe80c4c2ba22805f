#include "cdeviceeventfilter.h"
#include "devicechange.h"
#include "devicestatus.h"
#include "mainwindow.h"
#include "testbench.h"
#include "testenvironment.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QWindow>

class TestDeviceStatus : public QObject
{
    Q_OBJECT

private slots:
    void decidesOnDeviceChangeMessages()
    {
        QVERIFY(isDeviceChangeMessage(0x0219, 0x8000)); // a device change: arrival
        QVERIFY(isDeviceChangeMessage(0x0219, 0x8004)); // removal complete
        QVERIFY(isDeviceChangeMessage(0x0219, 0x0007)); // device tree changed
        QVERIFY(!isDeviceChangeMessage(0x0219, 0x8001)); // removal queried
        // wParam is pointer-sized: a truncating comparison would accept this one.
        QVERIFY(
            !isDeviceChangeMessage(0x0219, sizeof(quintptr) > 4 ? (quintptr(1) << 32) | 0x8000 : 0x18000));
        QVERIFY(!isDeviceChangeMessage(0x000F, 0x8000)); // another message with an arrival code
    }

    // That no translation holds the texts, which the Run checks read back, is tst_mainwindow's;
    // no board and a failed scan, each an empty text, are korvane-cli's status rows.
    void labelFollowsTheBench()
    {
        TestEnvironment environment;
        TestBench bench(environment.benchDirectory());
        bench.attach("b1", ZvSim::Loader);
        // Created and wired as start-up does.
        CDeviceEventFilter filter;
        MainWindow window;
        window.show();
        filter.registerEvent(QGuiApplication::allWindows().first());
        QObject::connect(
            &filter, &CDeviceEventFilter::deviceChanged, &window, &MainWindow::deviceChangedSlot);
        QCoreApplication::instance()->installNativeEventFilter(&filter);
        // Without a window nothing is watched; the slot is reachable through the meta-object.
        CDeviceEventFilter ignoring;
        QSignalSpy ignored(&ignoring, &CDeviceEventFilter::deviceChanged);
        QVERIFY(QMetaObject::invokeMethod(&ignoring, "registerEvent", Q_ARG(QWindow *, nullptr)));
        auto *label = window.findChild<QStatusBar *>("statusBar")
                          ->findChild<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(label);
        QCOMPARE(label->text(), "One Loader device");

        bench.attach("b2", ZvSim::Maskrom);
        QTRY_COMPARE(label->text(), "Many devices");
        bench.detach("b1");
        QTRY_COMPARE(label->text(), "One Maskrom device");
        // Changes in a row: the label ends with the last.
        bench.detach("b2");
        bench.attach("b3", ZvSim::Loader);
        bench.setState("b3", 7);
        QTRY_COMPARE(label->text(), "One invalid device");
        QCOMPARE(ignored.count(), 0);
    }
};

QTEST_MAIN(TestDeviceStatus)
#include "tst_devicestatus.moc"
