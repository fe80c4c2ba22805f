#include "cdeviceeventfilter.h"
#include "mainwindow.h"
#include "logcapture.h"
#include "testenvironment.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <memory>

// The device-change filter on real windows and real messages: run on the windows platform
// plug-in, whose windows are native and whose window procedure hands messages to the filter.
class TestWindowsPlatform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void deviceChangeMessages_data();
    void deviceChangeMessages();
    void registrationOfADestroyedWindow();

private:
    // The bench stays as it is during the whole run, so its watcher never adds a change.
    TestEnvironment environment;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<CDeviceEventFilter> filter;
};

namespace {

const QString registrationFailed = QStringLiteral("failed to register device notification");

// A device-interface record as the system attaches it to an arrival or a removal.
struct UsbInterfaceRecord
{
    UsbInterfaceRecord()
    {
        static const wchar_t name[]
            = L"\\\\?\\USB#VID_0000&PID_0000#BENCH1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
        static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + sizeof(name) <= sizeof(bytes));
        auto *header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(bytes);
        header->dbcc_size = DWORD(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + sizeof(name));
        header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        header->dbcc_classguid
            = { 0xA5DCBF10, 0x6530, 0x11D2, { 0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED } };
        std::memcpy(header->dbcc_name, name, sizeof(name));
    }
    LPARAM lParam() const { return reinterpret_cast<LPARAM>(bytes); }

    alignas(DEV_BROADCAST_DEVICEINTERFACE_W) char bytes[256] = {};
};

} // namespace

void TestWindowsPlatform::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("windows"));
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    // Registered and installed as start-up does.
    const LogCapture capture;
    filter = std::make_unique<CDeviceEventFilter>();
    filter->registerEvent(window->windowHandle());
    QVERIFY2(!capture.messages().contains(registrationFailed), qPrintable(capture.messages().join('\n')));
    QVERIFY(IsWindow(reinterpret_cast<HWND>(window->winId())));
    QCoreApplication::instance()->installNativeEventFilter(filter.get());
}

void TestWindowsPlatform::cleanupTestCase()
{
    QCoreApplication::instance()->removeNativeEventFilter(filter.get());
    window.reset();
    filter.reset();
}

// Which codes count is tst_devicestatus' decidesOnDeviceChangeMessages; here, that the
// filter reads the message and the whole wParam of a real MSG.
void TestWindowsPlatform::deviceChangeMessages_data()
{
    QTest::addColumn<uint>("message");
    QTest::addColumn<quint64>("wParam");
    QTest::addColumn<int>("changes");

    QTest::newRow("arrival") << uint(WM_DEVICECHANGE) << quint64(DBT_DEVICEARRIVAL) << 1;
    // wParam is 64 bits wide here: a filter that kept only the low half would count this.
    QTest::newRow("arrival code in the low half only")
        << uint(WM_DEVICECHANGE) << ((quint64(1) << 32) | DBT_DEVICEARRIVAL) << 0;
    QTest::newRow("arrival code on an application message") << uint(WM_APP) << quint64(DBT_DEVICEARRIVAL) << 0;
}

void TestWindowsPlatform::deviceChangeMessages()
{
    QFETCH(uint, message);
    QFETCH(quint64, wParam);
    QFETCH(int, changes);

    const UsbInterfaceRecord record;
    QSignalSpy spy(filter.get(), &CDeviceEventFilter::deviceChanged);
    SendMessageW(reinterpret_cast<HWND>(window->winId()), message, WPARAM(wParam), record.lParam());
    QCOMPARE(spy.count(), changes);
    // Nothing was queued for later either.
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), changes);
}

// Wrapped while it existed: winId() then names a handle the system no longer knows. (A
// registration that succeeds is initTestCase's.)
void TestWindowsPlatform::registrationOfADestroyedWindow()
{
    const HWND native = CreateWindowExW(0, L"STATIC", L"foreign", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
        nullptr, GetModuleHandleW(nullptr), nullptr);
    QVERIFY(native);
    const std::unique_ptr<QWindow> foreign(QWindow::fromWinId(reinterpret_cast<WId>(native)));
    QVERIFY(foreign);
    QVERIFY(DestroyWindow(native));
    QCOMPARE(reinterpret_cast<HWND>(foreign->winId()), native);

    const LogCapture capture;
    CDeviceEventFilter unused;
    unused.registerEvent(foreign.get());
    QVERIFY(capture.messages().contains(registrationFailed));
}

QTEST_MAIN(TestWindowsPlatform)
#include "tst_windowsplatform.moc"
