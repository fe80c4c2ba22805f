#include "mainwindow.h"
#include "messageboxobserver.h"
#include "pluginjournal.h"
#include "testbench.h"
#include "testenvironment.h"
#include "testplugins.h"

#include "ZVUpgrade_DLL.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

#ifdef Q_OS_UNIX
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

bool runsAsRoot()
{
#ifdef Q_OS_UNIX
    return geteuid() == 0;
#else
    return false;
#endif
}

// Closing a window unloads the plug-in, and the parameters it keeps would be lost
// with its unmapped memory. Kept mapped, it stays one instance for the whole run.
bool pinRecordingPlugin()
{
#ifdef Q_OS_UNIX
    return dlopen(TestPlugins::recordingPlugin, RTLD_NOW | RTLD_NODELETE) != nullptr;
#else
    return true;
#endif
}

const char *const runButtons[] = { nullptr, "basicRunButton", "middleRunButton", "highRunButton" };
const char *const fileEdits[] = { nullptr, "basicKeyEdit", "middlePlainEdit", "highKeyEdit" };

// Remembers the first thread object that receives an event on the GUI thread: an
// action's thread gets its queued quit() there, and later its deferred deletion.
class ThreadSpotter : public QObject
{
public:
    QPointer<QThread> thread;
    bool spotted = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *candidate = qobject_cast<QThread *>(watched);
        if (!spotted && candidate && candidate != QThread::currentThread()) {
            thread = candidate;
            spotted = true;
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

// The Run buttons, the busy state and the result boxes, against the simulated bench
// and the recording plug-in.
class TestActionWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void refusalsInOrder_data();
    void refusalsInOrder();
    void actionRunsEndToEnd_data();
    void actionRunsEndToEnd();
    void failedActionIsShownInRedAndReplacedByTheNext();
    void windowStaysBusyAndResponsive();
    void workerOutlivesItsThreadSafely();
    void secondClickOfOnePressStartsNothing();
    void readOnlyKeyFilesAreUsed();
    void missingDataFileFailsWithoutBeingCreated();

private:
    void openWindow(bool withPlugin = true, int proofLevel = 7);
    template <typename Widget> Widget *widget(const char *name) const
    {
        return window->findChild<Widget *>(QLatin1String(name));
    }
    void setFile(int level, const QString &path) { widget<QLineEdit>(fileEdits[level])->setText(path); }
    QString fileOfSize(const QString &name, int size) const;
    void run(int level) { widget<QPushButton>(runButtons[level])->click(); }
    // Waits for the next box not yet read, checks it came from the window with the one Ok button.
    ObservedMessageBox nextBox();
    QList<QPair<QString, bool>> outputLines() const;

    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<TestBench> bench;
    std::unique_ptr<PluginJournal> pluginJournal;
    std::unique_ptr<MessageBoxObserver> observer;
    std::unique_ptr<MainWindow> window;
    int boxesRead = 0;
};

void TestActionWindow::initTestCase()
{
    QVERIFY(pinRecordingPlugin());
}

void TestActionWindow::init()
{
    env = std::make_unique<TestEnvironment>();
    QVERIFY(env->isValid());
    bench = std::make_unique<TestBench>(env->benchDirectory());
    pluginJournal = std::make_unique<PluginJournal>(env->filePath(QStringLiteral("plugin.jsonl")));
    observer = std::make_unique<MessageBoxObserver>();
    boxesRead = 0;
}

void TestActionWindow::cleanup()
{
    // No action may outlive its test: the window closes only when none is launched.
    if (window)
        QTRY_VERIFY(window->close());
    window.reset();
    observer.reset();
    pluginJournal.reset();
    bench.reset();
    env.reset();
    qunsetenv("KORVANE_TEST_PROOF_LEVEL");
}

void TestActionWindow::openWindow(bool withPlugin, int proofLevel)
{
    if (withPlugin) {
        const QJsonObject config { { "DLL", QString::fromUtf8(TestPlugins::recordingPlugin) } };
        env->writeFile(QStringLiteral("config.json"), QJsonDocument(config).toJson());
    }
    qputenv("KORVANE_TEST_PROOF_LEVEL", QByteArray::number(proofLevel));
    window = std::make_unique<MainWindow>();
    window->show();
    // Only what actions call is of interest, not the load.
    QVERIFY(pluginJournal->clear());
}

QString TestActionWindow::fileOfSize(const QString &name, int size) const
{
    QByteArray content(size, '\0');
    for (int i = 0; i < size; ++i)
        content[i] = char(0x40 + i % 61);
    return env->writeFile(name, content);
}

ObservedMessageBox TestActionWindow::nextBox()
{
    // A box that a click opens has been answered by the time the click returns.
    if (!observer->waitForMessageBoxes(boxesRead + 1))
        return {};
    const ObservedMessageBox box = observer->messageBoxes().at(boxesRead++);
    if (box.parent != window.get() || box.title != "Korvane" || box.buttons != QMessageBox::Ok)
        return {};
    return box;
}

QList<QPair<QString, bool>> TestActionWindow::outputLines() const
{
    QList<QPair<QString, bool>> lines;
    auto *list = widget<QListWidget>("outputList");
    for (int i = 0; i < list->count(); ++i) {
        const QBrush background = list->item(i)->background();
        const bool red = background == QBrush(Qt::red, Qt::SolidPattern);
        if (!red && background.style() != Qt::NoBrush)
            return {}; // neither the default background nor the error one
        lines.append({ list->item(i)->text(), red });
    }
    return lines;
}

void TestActionWindow::refusalsInOrder_data()
{
    QTest::addColumn<int>("level");
    // The first check that fails; every later check would fail too.
    QTest::addColumn<int>("failingCheck");
    QTest::addColumn<QList<int>>("boards");
    QTest::addColumn<QString>("message");

    const QString notLoaded = "Dll is not loaded!";
    const QString badKey = "size invalid for key file!";
    const QString loaderOnly = "action can only work on the loader device!";
    const QList<int> none;
    const QList<int> maskrom { ZvSim::Maskrom };
    const QList<int> invalid { 7 };
    const QList<int> two { ZvSim::Loader, ZvSim::Loader };

    QTest::newRow("basic: no plug-in") << 1 << 1 << none << notLoaded;
    QTest::newRow("basic: not supported") << 1 << 2 << none << "Dll did not support to do basic action!";
    QTest::newRow("basic: 31-byte key") << 1 << 4 << none << badKey;
    QTest::newRow("basic: no board") << 1 << 5 << none << "no available device!";
    QTest::newRow("basic: two boards") << 1 << 5 << two << "no available device!";
    QTest::newRow("basic: invalid board") << 1 << 5 << invalid << "no available device!";

    QTest::newRow("middle: no plug-in") << 2 << 1 << none << notLoaded;
    QTest::newRow("middle: not supported") << 2 << 2 << none << "Dll did not support to do middle action!";
    QTest::newRow("middle: no file") << 2 << 3 << none << "No plain file!";
    QTest::newRow("middle: 65536 bytes") << 2 << 4 << none << "size invalid for plain file!";
    QTest::newRow("middle: maskrom board") << 2 << 5 << maskrom << loaderOnly;
    QTest::newRow("middle: two boards") << 2 << 5 << two << loaderOnly;

    QTest::newRow("high: no plug-in") << 3 << 1 << none << notLoaded;
    QTest::newRow("high: not supported") << 3 << 2 << none << "Dll did not support to do high action!";
    QTest::newRow("high: no file") << 3 << 3 << none << "No key file!";
    QTest::newRow("high: 20-byte key") << 3 << 4 << none << badKey;
    QTest::newRow("high: no board") << 3 << 5 << none << loaderOnly;
    QTest::newRow("high: invalid board") << 3 << 5 << invalid << loaderOnly;
}

void TestActionWindow::refusalsInOrder()
{
    QFETCH(int, level);
    QFETCH(int, failingCheck);
    QFETCH(QList<int>, boards);
    QFETCH(QString, message);

    for (int i = 0; i < boards.size(); ++i)
        bench->attach(QStringLiteral("b%1").arg(i), boards[i]);
    const int levelBit = 1 << (level - 1);
    openWindow(failingCheck > 1, failingCheck > 2 ? 7 : 7 & ~levelBit);

    // Files that fail their check up to check 4, and pass it (a missing data file
    // passes) from check 5 on.
    const int sizes[][2] = { {}, { 31, 0 }, { 65536, -1 }, { 20, 24 } };
    if (level == 1 || failingCheck > 3) {
        const int size = sizes[level][failingCheck > 4 ? 1 : 0];
        setFile(level,
            size < 0        ? env->filePath("missing.bin")
                : size == 0 ? QString()
                            : fileOfSize("file.bin", size));
    }

    run(level);
    const ObservedMessageBox box = nextBox();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.text, message);
    // Nothing was launched: the window closes at once, with no box about a running action.
    QVERIFY(window->close());
    QCOMPARE(observer->messageBoxes().size(), 1);
    QCOMPARE(widget<QListWidget>("outputList")->count(), 0);
    QVERIFY(pluginJournal->entries().isEmpty());
}

void TestActionWindow::actionRunsEndToEnd_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("boardState");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("keyIndex");

    QTest::newRow("basic on maskrom without key") << 1 << int(ZvSim::Maskrom) << 0 << 0;
    QTest::newRow("basic on loader with key") << 1 << int(ZvSim::Loader) << 32 << 0;
    QTest::newRow("middle, 100 bytes") << 2 << int(ZvSim::Loader) << 100 << 0;
    QTest::newRow("high, 24 bytes at index 3") << 3 << int(ZvSim::Loader) << 24 << 3;
}

void TestActionWindow::actionRunsEndToEnd()
{
    QFETCH(int, level);
    QFETCH(int, boardState);
    QFETCH(int, fileSize);
    QFETCH(int, keyIndex);

    bench->attach(QStringLiteral("b1"), boardState);
    openWindow();
    const QString path = fileOfSize("file.bin", fileSize);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    if (level != 1 || fileSize > 0)
        setFile(level, path);
    widget<QSpinBox>("highKeySpin")->setValue(keyIndex);

    run(level);
    const ObservedMessageBox box = nextBox();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.text, "Action ok.");

    const QStringList doneLines[]
        = { {}, { "read cpuid...", "encode cpuid...", "write cpuid...", "basic action done" },
              { "encode data...", "write encoded data...", "middle action done" },
              { "write oem key...", "high action done" } };
    QList<QPair<QString, bool>> expectedLines;
    for (const QString &line : doneLines[level])
        expectedLines.append({ line, false });
    QCOMPARE(outputLines(), expectedLines);

    const QString b1 = QStringLiteral("b1");
    if (level == 1) {
        // The key path reaches the plug-in only when one was given.
        const QList<PluginJournalEntry> calls = pluginJournal->entries();
        QCOMPARE(calls.size(), fileSize ? 3 : 2);
        if (fileSize)
            QCOMPARE(calls.at(1).data, content);
        QCOMPARE(bench->written(b1, ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID)),
            testPluginOutput(bench->cpuId(b1), 16));
    } else if (level == 2) {
        QCOMPARE(bench->written(b1, ZvSim::proofDataTarget()), testPluginOutput(content, fileSize));
    } else {
        QVERIFY(pluginJournal->entries().isEmpty());
        QCOMPARE(bench->written(b1, ZvSim::proofKeyTarget(keyIndex)), content);
    }
}

void TestActionWindow::failedActionIsShownInRedAndReplacedByTheNext()
{
    bench->attach(QStringLiteral("b1"), ZvSim::Loader);
    openWindow();
    bench->setOtp(QStringLiteral("b1"), QByteArray(17, '\0'));

    run(1);
    ObservedMessageBox box = nextBox();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.text, "Action failed,err=-3!");
    QCOMPARE(outputLines(),
        (QList<QPair<QString, bool>> { { "read cpuid...", false }, { "read cpuid...fail", true } }));

    run(3);
    QCOMPARE(nextBox().text, "No key file!");
    // A refusal leaves the previous action's lines.
    QCOMPARE(widget<QListWidget>("outputList")->count(), 2);

    setFile(3, fileOfSize("oem.key", 32));
    run(3);
    box = nextBox();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(outputLines(),
        (QList<QPair<QString, bool>> { { "write oem key...", false }, { "high action done", false } }));
}

void TestActionWindow::windowStaysBusyAndResponsive()
{
    bench->attach(QStringLiteral("b1"), ZvSim::Loader);
    openWindow();
    bench->setDelay(QStringLiteral("b1"), 400);
    auto *list = widget<QListWidget>("outputList");
    auto *tabs = widget<QTabWidget>("levelTabWidget");
    auto *browse = widget<QPushButton>("dllButton");
    list->addItem(QStringLiteral("line of an earlier action"));

    QTimer ticker;
    ticker.setInterval(10);
    QSignalSpy ticks(&ticker, &QTimer::timeout);
    ticker.start();
    bool idleWhileResultShown = false;
    observer->setOnMessageBox([&](QMessageBox *box) {
        if (box->icon() == QMessageBox::Information)
            idleWhileResultShown = tabs->isEnabled() && browse->isEnabled();
    });

    run(1);
    QTRY_VERIFY(!tabs->isEnabled());
    QVERIFY(!browse->isEnabled());
    QVERIFY(list->findItems(QStringLiteral("line of an earlier action"), Qt::MatchExactly).isEmpty());
    const int ticksAtStart = ticks.count();

    QVERIFY(!window->close());
    QCOMPARE(nextBox().text, "Action is still running,stop quit!");
    QCOMPARE(nextBox().text, "Action ok.");
    // The board took at least 800 ms; a blocked GUI thread would have let the timer fire about once.
    QVERIFY2(ticks.count() - ticksAtStart >= 10, qPrintable(QString::number(ticks.count() - ticksAtStart)));
    QVERIFY(idleWhileResultShown);
    QVERIFY(tabs->isEnabled());
    QVERIFY(browse->isEnabled());
}

void TestActionWindow::workerOutlivesItsThreadSafely()
{
    bench->attach(QStringLiteral("b1"), ZvSim::Loader);
    openWindow();
    ThreadSpotter spotter;
    qApp->installEventFilter(&spotter);
    bool threadGoneWhileBoxOpen = false;
    // Holds the result box open until the action's thread has finished and deleted itself.
    observer->setOnMessageBox([&](QMessageBox *) {
        threadGoneWhileBoxOpen = QTest::qWaitFor([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return spotter.spotted && spotter.thread.isNull();
        });
    });

    run(1);
    QCOMPARE(nextBox().text, "Action ok.");
    qApp->removeEventFilter(&spotter);
    QVERIFY(threadGoneWhileBoxOpen);
    QTRY_VERIFY(window->close());
}

void TestActionWindow::secondClickOfOnePressStartsNothing()
{
    bench->attach(QStringLiteral("b1"), ZvSim::Loader);
    openWindow();
    run(1);
    run(1); // before the queued busy state has disabled the button
    QCOMPARE(nextBox().text, "Action ok.");
    QTRY_VERIFY(window->close());
    QCOMPARE(observer->messageBoxes().size(), 1);
    QCOMPARE(bench->journalCalls(QStringLiteral("ZV_ReadOtpData")).size(), 1);
}

void TestActionWindow::readOnlyKeyFilesAreUsed()
{
    if (runsAsRoot())
        QSKIP("root may write to a read-only file, so the file would not be read-only for this test");
    bench->attach(QStringLiteral("b1"), ZvSim::Loader);
    openWindow();
    const QString basicKey = fileOfSize("aes.key", 32);
    const QString oemKey = fileOfSize("oem.key", 16);
    for (const QString &path : { basicKey, oemKey })
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));

    setFile(1, basicKey);
    run(1);
    QCOMPARE(nextBox().text, "Action ok.");
    QCOMPARE(pluginJournal->entries().at(1).size, 32);

    setFile(3, oemKey);
    run(3);
    QCOMPARE(nextBox().text, "Action ok.");
    QCOMPARE(bench->written(QStringLiteral("b1"), ZvSim::proofKeyTarget(0)).size(), 16);
}

void TestActionWindow::missingDataFileFailsWithoutBeingCreated()
{
    bench->attach(QStringLiteral("b1"), ZvSim::Loader);
    openWindow();
    const QString missing = env->filePath(QStringLiteral("missing.bin"));
    setFile(2, missing);

    run(2);
    const ObservedMessageBox box = nextBox();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.text, "Action failed,err=-9!");
    QCOMPARE(outputLines(), (QList<QPair<QString, bool>> { { "read data file...fail", true } }));
    QVERIFY(!QFile::exists(missing));
    QVERIFY(bench->written(QStringLiteral("b1"), ZvSim::proofDataTarget()).isNull());
}

QTEST_MAIN(TestActionWindow)
#include "tst_actionwindow.moc"
