#include "cdeviceeventfilter.h"
#include "devicestatus.h"
#include "mainwindow.h"
#include "testbench.h"
#include "testenvironment.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTranslator>
#include <QWindow>

namespace {

// The filter and the window, created and wired in the order start-up uses.
struct WiredWindow
{
    WiredWindow()
    {
        window.show();
        filter.registerEvent(QGuiApplication::allWindows().first());
        QObject::connect(
            &filter, &CDeviceEventFilter::deviceChanged, &window, &MainWindow::deviceChangedSlot);
        QCoreApplication::instance()->installNativeEventFilter(&filter);
    }

    QLabel *statusLabel() const
    {
        const auto *statusBar = window.findChild<QStatusBar *>(QStringLiteral("statusBar"));
        const QList<QLabel *> labels
            = statusBar->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
        return labels.size() == 1 ? labels.first() : nullptr;
    }

    CDeviceEventFilter filter;
    MainWindow window;
};

qsizetype scanCount(const TestBench &bench)
{
    return bench.journalCalls(QStringLiteral("ZV_ScanDeviceW")).size();
}

} // namespace

class TestDeviceStatus : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void scanNamesTheBoards_data();
    void scanNamesTheBoards();
    void labelFollowsAttachAndDetach_data();
    void labelFollowsAttachAndDetach();
    void everyChangeScansAndTheLastOneWins();
};

void TestDeviceStatus::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestDeviceStatus::scanNamesTheBoards_data()
{
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<int>("reportedCount"); // -100: the count of attached boards
    QTest::addColumn<QString>("text");

    const int attached = -100;
    QTest::newRow("no board") << QList<int>() << attached << QString();
    QTest::newRow("maskrom") << QList<int> { ZvSim::Maskrom } << attached << "One Maskrom device";
    QTest::newRow("loader") << QList<int> { ZvSim::Loader } << attached << "One Loader device";
    QTest::newRow("state 0") << QList<int> { 0 } << attached << "One invalid device";
    QTest::newRow("state 3") << QList<int> { 3 } << attached << "One invalid device";
    QTest::newRow("two boards") << QList<int> { ZvSim::Maskrom, ZvSim::Loader } << attached << "Many devices";
    QTest::newRow("three boards") << QList<int> { 0, 0, 0 } << attached << "Many devices";
    QTest::newRow("failed scan") << QList<int> { ZvSim::Loader } << -1 << QString();
    QTest::newRow("scan finds none") << QList<int> { ZvSim::Maskrom } << 0 << QString();
}

void TestDeviceStatus::scanNamesTheBoards()
{
    QFETCH(QList<int>, states);
    QFETCH(int, reportedCount);
    QFETCH(QString, text);

    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    for (int i = 0; i < states.size(); ++i)
        bench.attach(QStringLiteral("b%1").arg(i + 1), states.at(i));
    if (reportedCount != -100)
        bench.setScanCount(reportedCount);

    const QString status = scanDeviceStatus();
    QCOMPARE(status, text);
    // The empty text is empty, not a blank that the Run checks would have to trim.
    QCOMPARE(status.isEmpty(), text.isEmpty());
}

void TestDeviceStatus::labelFollowsAttachAndDetach_data()
{
    QTest::addColumn<bool>("translated");
    QTest::newRow("English") << false;
    // The texts are read back by the Run checks: they stay English under zh_CN.
    QTest::newRow("zh_CN") << true;
}

void TestDeviceStatus::labelFollowsAttachAndDetach()
{
    QFETCH(bool, translated);
    QTranslator translator;
    if (translated) {
        QVERIFY(translator.load(QStringLiteral(":/i18n/Korvane_zh_CN.qm")));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        QVERIFY(QCoreApplication::translate("MainWindow", "Action ok.") != QLatin1String("Action ok."));
    }

    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    bench.attach("b1", ZvSim::Loader);

    WiredWindow wired;
    QLabel *label = wired.statusLabel();
    QVERIFY(label);
    QCOMPARE(label->text(), "One Loader device");

    bench.attach("b2", ZvSim::Maskrom);
    QTRY_COMPARE(label->text(), "Many devices");
    bench.detach("b1");
    QTRY_COMPARE(label->text(), "One Maskrom device");
    bench.setState("b2", 7);
    QTRY_COMPARE(label->text(), "One invalid device");
    bench.detach("b2");
    QTRY_COMPARE(label->text(), QString());
}

void TestDeviceStatus::everyChangeScansAndTheLastOneWins()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    WiredWindow wired;
    QLabel *label = wired.statusLabel();
    QVERIFY(label);
    QSignalSpy changes(&wired.filter, &CDeviceEventFilter::deviceChanged);
    const qsizetype scansAtStart = scanCount(bench);
    QCOMPARE(scansAtStart, 1);

    // Each signal is one scan, made at once inside the emission.
    bench.attach("b1", ZvSim::Maskrom);
    emit wired.filter.deviceChanged();
    QCOMPARE(label->text(), "One Maskrom device");
    emit wired.filter.deviceChanged();
    emit wired.filter.deviceChanged();
    QCOMPARE(scanCount(bench), scansAtStart + changes.count());

    // Changes in quick succession: however the watcher groups them, the label ends
    // with the bench as it was left, and no signal went without its scan.
    bench.setState("b1", ZvSim::Loader);
    bench.attach("b2", 0);
    bench.detach("b1");
    QTRY_COMPARE(label->text(), "One invalid device");
    QCOMPARE(scanCount(bench), scansAtStart + changes.count());
}

QTEST_MAIN(TestDeviceStatus)
#include "tst_devicestatus.moc"
