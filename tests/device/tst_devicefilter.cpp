#include "cdeviceeventfilter.h"
#include "devicechange.h"
#include "testbench.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

namespace {

QStringList capturedMessages;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    capturedMessages.append(text);
}

// Waits until a watcher of our own has seen a change of the bench directory, then
// lets every other pending notification run: whatever the filter makes of that
// change has happened by then, so the absence of a signal can be asserted.
void settleBenchChange(const QString &benchDirectory, const std::function<void()> &change)
{
    QFileSystemWatcher reference({ benchDirectory });
    QSignalSpy seen(&reference, &QFileSystemWatcher::directoryChanged);
    change();
    QVERIFY(seen.wait());
    QCoreApplication::processEvents();
}

} // namespace

class TestDeviceFilter : public QObject
{
    Q_OBJECT

private slots:
    void decidesOnDeviceChangeMessages_data();
    void decidesOnDeviceChangeMessages();
    void ignoresNullWindow();
    void followsSimulatedBench();
};

void TestDeviceFilter::decidesOnDeviceChangeMessages_data()
{
    QTest::addColumn<quint32>("message");
    QTest::addColumn<quintptr>("wParam");
    QTest::addColumn<bool>("changed");

    const quint32 deviceChange = 0x0219;
    QTest::newRow("arrival") << deviceChange << quintptr(0x8000) << true;
    QTest::newRow("remove complete") << deviceChange << quintptr(0x8004) << true;
    QTest::newRow("device tree changed") << deviceChange << quintptr(0x0007) << true;
    QTest::newRow("query remove") << deviceChange << quintptr(0x8001) << false;
    QTest::newRow("config changed") << deviceChange << quintptr(0x0018) << false;
    // wParam is pointer-sized: a truncating comparison would accept this one.
    QTest::newRow("arrival in high bits")
        << deviceChange << quintptr(sizeof(quintptr) > 4 ? (quintptr(1) << 32) | 0x8000 : 0x18000) << false;
    QTest::newRow("paint with arrival code") << quint32(0x000F) << quintptr(0x8000) << false;
}

void TestDeviceFilter::decidesOnDeviceChangeMessages()
{
    QFETCH(quint32, message);
    QFETCH(quintptr, wParam);
    QFETCH(bool, changed);
    QCOMPARE(isDeviceChangeMessage(message, wParam), changed);
}

void TestDeviceFilter::ignoresNullWindow()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    CDeviceEventFilter ignoring;
    QSignalSpy ignoredChanges(&ignoring, &CDeviceEventFilter::deviceChanged);

    capturedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    ignoring.registerEvent(nullptr);
    // The slot's argument type is registered: the meta-object call reaches it.
    const bool invoked = QMetaObject::invokeMethod(&ignoring, "registerEvent", Q_ARG(QWindow *, nullptr));
    qInstallMessageHandler(previous);
    QVERIFY(invoked);
    QCOMPARE(capturedMessages, QStringList());

    settleBenchChange(environment.benchDirectory(), [&] { bench.attach("b1"); });
    QCOMPARE(ignoredChanges.count(), 0);
}

void TestDeviceFilter::followsSimulatedBench()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    // Before the first board is attached the bench directory need not exist.
    QVERIFY(QDir(environment.benchDirectory()).removeRecursively());
    QWindow window;
    CDeviceEventFilter filter;
    QSignalSpy changes(&filter, &CDeviceEventFilter::deviceChanged);
    filter.registerEvent(&window);
    // A second registration must not make every change count twice.
    filter.registerEvent(&window);

    // Created, then atomically replaced, as the CLI and the test bench write it.
    bench.attach("b1");
    QTRY_COMPARE(changes.count(), 1);
    bench.setState("b1", ZvSim::Maskrom);
    QTRY_COMPARE(changes.count(), 2);

    // Rewritten in place.
    const QString benchFile = bench.bench().benchFilePath();
    {
        QFile file(benchFile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.write(R"({"boards": []})") > 0);
    }
    QTRY_COMPARE(changes.count(), 3);

    // Removed, then created again.
    QVERIFY(QFile::remove(benchFile));
    QTRY_COMPARE(changes.count(), 4);
    bench.attach("b2");
    QTRY_COMPARE(changes.count(), 5);

    // Other files of the bench (journal, written data) are no device change.
    settleBenchChange(
        environment.benchDirectory(), [&] { environment.writeFile("bench/journal.jsonl", "{}\n"); });
    QCOMPARE(changes.count(), 5);
}

QTEST_MAIN(TestDeviceFilter)
#include "tst_devicefilter.moc"
