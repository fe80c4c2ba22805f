#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "messageboxobserver.h"
#include "pluginjournal.h"
#include "testbench.h"
#include "testenvironment.h"
#include "testplugins.h"
#include "tracefiles.h"
#include "threadworker.h"
#include "traceclaims.h"
#include "tracejournal.h"

#include "ZVUpgrade_DLL.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonObject>
#include <QJsonDocument>
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
#endif

namespace {

using Lines = QList<QPair<QString, bool>>; // text, shown as an error

const char *const runButtons[] = { nullptr, "basicRunButton", "middleRunButton", "highRunButton" };
const char *const fileEdits[] = { nullptr, "basicKeyEdit", "middlePlainEdit", "highKeyEdit" };
const char *const levelNames[] = { nullptr, "basic", "middle", "high" };
const char *const doneLines[] = { nullptr, "read cpuid...|encode cpuid...|write cpuid...|basic action done",
    "encode data...|write encoded data...|middle action done", "write oem key...|high action done" };

// "a|b": every line on the default background but the last, which is red for a failure.
Lines expectLines(const QString &joined, bool failed)
{
    Lines lines;
    for (const QString &text : joined.split('|'))
        lines.append({ text, false });
    lines.last().second = failed;
    return lines;
}

QByteArray contentOfSize(int size)
{
    return QByteArray("0123456789abcdefghijklmnopqrstuvwxyz!").repeated(size / 37 + 1).left(size);
}

// A window's close unloads the plug-in; kept mapped, it keeps its parameters.
bool keepRecordingPluginMapped()
{
#ifdef Q_OS_UNIX
    return dlopen(TestPlugins::recordingPlugin, RTLD_NOW | RTLD_NODELETE) != nullptr;
#else
    return true;
#endif
}

QStringList capturedLog;

// Runs a worker's process() on the calling thread: its lines and finished(), in the
// order emitted, and its debug log.
qint32 runAction(int level, const QString &file, quint8 keyIndex, Lines &events, QStringList &log)
{
    ThreadWorker worker;
    const bool middle = level == RUN_ACTION_MIDDLE;
    worker.setParams(middle ? file : QString(), middle ? QString() : file, keyIndex);
    worker.setAction(RunAction_T(level));
    QObject::connect(&worker, &ThreadWorker::update_process, [&events](const QString &text, bool error) {
        events.append({ text, error });
    });
    QObject::connect(&worker, &ThreadWorker::finished, [&events] { events.append({ "finished()", false }); });
    capturedLog.clear();
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
              if (type == QtDebugMsg)
                  capturedLog.append(text);
          });
    worker.process();
    qInstallMessageHandler(previous);
    log = capturedLog;
    return worker.getExitCode();
}

} // namespace

// The procedures on their own, then launched from the window, against the simulated
// bench and the recording plug-in.
class TestActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(keepRecordingPluginMapped()); }

    void init()
    {
        env = std::make_unique<TestEnvironment>();
        QVERIFY(env->isValid());
        bench = std::make_unique<TestBench>(env->benchDirectory());
        pluginJournal = std::make_unique<PluginJournal>(env->filePath(QStringLiteral("plugin.jsonl")));
        observer = std::make_unique<MessageBoxObserver>();
        boxesRead = 0;
    }

    void cleanup()
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
        qunsetenv("KORVANE_TEST_FAIL_ENCRYPT");
    }

    void procedure_data();
    void procedure();
    void refusalsInOrder_data();
    void refusalsInOrder();
    void successiveActionsFromTheWindow();
    void traceRecordsWhatHappened();
    void traceOnlyWithTrue_data();
    void traceOnlyWithTrue();
    void duplicateGuard_data();
    void duplicateGuard();
    void guardSeesRecordsOfThisWindow();
    void claimInDoubtOrUnavailable_data();
    void claimInDoubtOrUnavailable();
    void unwritableTraceKeepsTheResult();

private:
    void openWindow(bool withPlugin = true, int proofLevel = 7, const QJsonObject &moreConfig = {})
    {
        QJsonObject config { { "DLL", QString::fromUtf8(TestPlugins::recordingPlugin) } };
        for (auto key = moreConfig.begin(); key != moreConfig.end(); ++key)
            config.insert(key.key(), key.value());
        if (withPlugin || !moreConfig.isEmpty())
            env->writeFile(QStringLiteral("config.json"), QJsonDocument(config).toJson());
        qputenv("KORVANE_TEST_PROOF_LEVEL", QByteArray::number(proofLevel));
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(pluginJournal->clear()); // only what actions call is of interest
    }
    template <typename Widget> Widget *widget(const char *name) const
    {
        return window->findChild<Widget *>(QLatin1String(name));
    }
    void setFile(int level, const QString &path) { widget<QLineEdit>(fileEdits[level])->setText(path); }
    void run(int level) { widget<QPushButton>(runButtons[level])->click(); }
    // The next box not yet read, if it came from the window with this icon and the one Ok button.
    ObservedMessageBox nextBox(QMessageBox::Icon icon)
    {
        if (!observer->waitForMessageBoxes(boxesRead + 1))
            return {};
        const ObservedMessageBox box = observer->messageBoxes().at(boxesRead++);
        const bool expected = box.parent == window.get() && box.title == "Korvane" && box.icon == icon;
        return expected && box.buttons == QMessageBox::Ok ? box : ObservedMessageBox();
    }
    Lines outputLines() const
    {
        Lines lines;
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

    QString traceDirectory() const { return env->filePath(QStringLiteral("trace")); }
    QList<TraceRecord> traceRecords() const { return chainedTraceRecords(traceDirectory()); }
    QByteArray logFile() const
    {
        QFile file(env->filePath(QStringLiteral("log/App%1.log").arg(QDate::currentDate().toString(Qt::ISODate))));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // A record of an earlier Basic action of this board, before the window starts.
    void traceEarlierBasic(const QString &time, qint32 exitCode)
    {
        TraceJournal journal(traceDirectory());
        TraceRecord earlier;
        earlier.time = time;
        earlier.level = QStringLiteral("basic");
        earlier.board = QStringLiteral("Loader");
        earlier.cpuId = QString::fromLatin1(bench->cpuId(QStringLiteral("b1")).toHex());
        earlier.exitCode = exitCode;
        QVERIFY(journal.append(earlier));
    }

    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<TestBench> bench;
    std::unique_ptr<PluginJournal> pluginJournal;
    std::unique_ptr<MessageBoxObserver> observer;
    std::unique_ptr<MainWindow> window;
    int boxesRead = 0;
};

void TestActions::procedure_data()
{
    QTest::addColumn<int>("level");
    // "fail:<device call>", "encrypt:<level>", "otp:<count byte>" or "index:<key index>".
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("file"); // the level's file: none, "missing", "." (a folder) or a size in bytes
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("logLine"); // between the level's in and out lines
    QTest::addColumn<QString>("calls"); // plug-in calls / device calls, none after a failing one
    const auto row = [](int level, const QString &setup, const QString &file, int exitCode, const char *lines,
                         const QString &logLine, const char *calls) {
        QTest::addRow("exit %d, level %d %s %s", exitCode, level, qPrintable(setup), qPrintable(file))
            << level << setup << file << exitCode << QString(lines) << logLine << QString(calls);
    };
    const char *const basicCalls = "addBufferParam doBasicEncrypt / ZV_ReadOtpData ZV_WriteVendorRpmbData";
    for (int count : { 1, 10, 17 })
        row(1, QStringLiteral("otp:%1").arg(count), "", 0, doneLines[1], "", basicCalls);
    row(1, "", "32", 0, doneLines[1], "",
        "addBufferParam addBufferParam doBasicEncrypt / ZV_ReadOtpData ZV_WriteVendorRpmbData");
    for (const char *size : { "0", "65535" })
        row(2, "", size, 0, doneLines[2], "", "addBufferParam doMiddleEncrypt / ZV_WriteProofData");
    for (const QPair<int, int> &key : { qMakePair(16, 0), qMakePair(24, 2), qMakePair(32, 3) })
        row(3, QStringLiteral("index:%1").arg(key.second), QString::number(key.first), 0, doneLines[3], "",
            " / ZV_WriteProofKey");

    row(1, "fail:ZV_WriteVendorRpmbData", "", -1,
        "read cpuid...|encode cpuid...|write cpuid...|write cpuid...fail", "failed to write cpuid",
        basicCalls);
    row(1, "encrypt:basic", "32", -2, "read cpuid...|encode cpuid...|encode cpuid...fail",
        "failed to encode cpuid", "addBufferParam addBufferParam doBasicEncrypt / ZV_ReadOtpData");
    // The count byte, and the signed value it is logged as.
    for (const QPair<int, int> &count : { qMakePair(0, 0), qMakePair(18, 18), qMakePair(200, -56) })
        row(1, QStringLiteral("otp:%1").arg(count.first), "", -3, "read cpuid...|read cpuid...fail",
            QStringLiteral("invalid cpuid size,size= %1").arg(count.second), " / ZV_ReadOtpData");
    row(1, "fail:ZV_ReadOtpData", "", -4, "read cpuid...|read cpuid...fail", "failed to read cpuid",
        " / ZV_ReadOtpData");
    row(2, "fail:ZV_WriteProofData", "100", -5,
        "encode data...|write encoded data...|write encoded data...fail", "failed to write encoded data",
        "addBufferParam doMiddleEncrypt / ZV_WriteProofData");
    row(2, "encrypt:middle", "100", -6, "encode data...|encode data...fail", "failed to encrypt data",
        "addBufferParam doMiddleEncrypt / ");
    row(3, "fail:ZV_WriteProofKey", "24", -7, "write oem key...|write oem key...fail",
        "failed to write oem key", " / ZV_WriteProofKey");
    // Files are opened read-only, never created, and their size is checked again.
    for (const char *file : { "missing", "31" })
        row(1, "", file, -8, "read key file...fail", "failed to read key file", " / ");
    for (const char *file : { "missing", "20" })
        row(3, "", file, -8, "read key file...fail", "failed to read key file", " / ");
    for (const char *file : { "missing", "." })
        row(2, "", file, -9, "read data file...fail", "failed to read data file", " / ");
    row(2, "", "65536", -10, "read data file...fail", "invalid data size,size= 65536", " / ");
    for (int level : { 0, 4 })
        row(level, "", "", -255, "invalid action", QStringLiteral("invalid action: %1").arg(level), " / ");
}

void TestActions::procedure()
{
    QFETCH(int, level);
    QFETCH(QString, setup);
    QFETCH(QString, file);
    QFETCH(int, exitCode);
    QFETCH(QString, lines);
    QFETCH(QString, logLine);
    QFETCH(QString, calls);
    bench->attach(QStringLiteral("b1"));
    openWindow();
    const QString kind = setup.section(':', 0, 0), value = setup.section(':', 1);
    QByteArray cpuId = bench->cpuId(QStringLiteral("b1"));
    if (kind == "fail") {
        bench->failCall(QStringLiteral("b1"), value);
    } else if (kind == "encrypt") {
        qputenv("KORVANE_TEST_FAIL_ENCRYPT", value.toLatin1());
    } else if (kind == "otp") {
        const QByteArray otp = char(value.toInt()) + QByteArray::fromHex("00112233445566778899aabbccddeeff");
        bench->setOtp(QStringLiteral("b1"), otp);
        cpuId = otp.mid(1, value.toInt() - 1);
    }
    const quint8 keyIndex = quint8(kind == "index" ? value.toInt() : 1);
    const QByteArray content = contentOfSize(file.toInt());
    QString path = file.isEmpty() ? QString() : env->filePath(file);
    if (!file.isEmpty() && file.front().isDigit())
        path = env->writeFile(file, content);
    const int journalStart = bench->journal().size();
    Lines events;
    QStringList log;

    QCOMPARE(runAction(level, path, keyIndex, events, log), exitCode);

    // Exactly one final line, the last, red for a failure; finished() once, after it.
    QCOMPARE(events, expectLines(lines, exitCode != 0) << qMakePair(QStringLiteral("finished()"), false));
    const QString name = level >= RUN_ACTION_BASIC && level <= RUN_ACTION_HIGH ? levelNames[level] : "";
    QStringList expectedLog = name.isEmpty()
        ? QStringList { logLine }
        : QStringList { name + " action in", logLine, name + " action out" };
    expectedLog.removeAll(QString());
    QCOMPARE(log, expectedLog); // nothing else: no key in the log
    QStringList deviceCalls;
    for (const QJsonObject &entry : bench->journal().mid(journalStart))
        deviceCalls.append(entry.value("call").toString());
    QCOMPARE(pluginJournal->calls().join(' ') + " / " + deviceCalls.join(' '), calls);
    if (file == "missing")
        QVERIFY(!QFile::exists(path));
    if (exitCode != 0)
        return;

    // What the plug-in got, the AES key only with a key file, and what reached the board:
    // Basic writes only the id's length of its 16-byte output.
    const QList<PluginJournalEntry> entries = pluginJournal->entries();
    QByteArray written = content;
    if (level != RUN_ACTION_HIGH) {
        const QByteArray plaintext = level == RUN_ACTION_BASIC ? cpuId : content;
        QCOMPARE(entries.first().name, "PLAINTEXT");
        QCOMPARE(entries.first().data, plaintext);
        QCOMPARE(entries.last().size, level == RUN_ACTION_BASIC ? 16 : content.size());
        written = testPluginOutput(plaintext, entries.last().size).left(plaintext.size());
    }
    if (entries.size() == 3) {
        QCOMPARE(entries.at(1).name, "AESKEY");
        QCOMPARE(entries.at(1).data, content);
    }
    const QJsonObject args = bench->journal().constLast().value("args").toObject();
    QCOMPARE(args.value("length").toInt(), written.size());
    const QString target = level == RUN_ACTION_BASIC ? ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID)
        : level == RUN_ACTION_MIDDLE                 ? ZvSim::proofDataTarget()
                                                     : ZvSim::proofKeyTarget(keyIndex);
    QCOMPARE(bench->written(QStringLiteral("b1"), target), written);
    if (level == RUN_ACTION_HIGH)
        QCOMPARE(args.value("keyIndex").toInt(), int(keyIndex));
}

void TestActions::refusalsInOrder_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("failingCheck"); // the first check that fails; every later one would too
    QTest::addColumn<QList<int>>("boards");
    QTest::addColumn<QString>("message");
    const QString notLoaded = "Dll is not loaded!", badKey = "size invalid for key file!";
    const QString noDevice = "no available device!",
                  loaderOnly = "action can only work on the loader device!";
    const QList<int> none, maskrom { ZvSim::Maskrom }, invalid { 7 }, two { ZvSim::Loader, ZvSim::Loader };
    QTest::newRow("basic: no plug-in") << 1 << 1 << none << notLoaded;
    QTest::newRow("basic: not supported") << 1 << 2 << none << "Dll did not support to do basic action!";
    QTest::newRow("basic: 31-byte key") << 1 << 4 << none << badKey;
    QTest::newRow("basic: no board") << 1 << 5 << none << noDevice;
    QTest::newRow("basic: two boards") << 1 << 5 << two << noDevice;
    QTest::newRow("basic: invalid board") << 1 << 5 << invalid << noDevice;
    QTest::newRow("middle: no plug-in") << 2 << 1 << none << notLoaded;
    QTest::newRow("middle: not supported") << 2 << 2 << none << "Dll did not support to do middle action!";
    QTest::newRow("middle: no file") << 2 << 3 << none << "No plain file!";
    QTest::newRow("middle: 65536 bytes") << 2 << 4 << none << "size invalid for plain file!";
    QTest::newRow("middle: maskrom board") << 2 << 5 << maskrom << loaderOnly;
    QTest::newRow("high: no plug-in") << 3 << 1 << none << notLoaded;
    QTest::newRow("high: not supported") << 3 << 2 << none << "Dll did not support to do high action!";
    QTest::newRow("high: no file") << 3 << 3 << none << "No key file!";
    QTest::newRow("high: 20-byte key") << 3 << 4 << none << badKey;
    QTest::newRow("high: invalid board") << 3 << 5 << invalid << loaderOnly;
}

void TestActions::refusalsInOrder()
{
    QFETCH(int, level);
    QFETCH(int, failingCheck);
    QFETCH(QList<int>, boards);
    QFETCH(QString, message);
    for (int i = 0; i < boards.size(); ++i)
        bench->attach(QStringLiteral("b%1").arg(i), boards[i]);
    openWindow(failingCheck > 1, failingCheck > 2 ? 7 : 7 & ~(1 << (level - 1)));
    // Files that fail their check up to check 4 and pass it from check 5 on (a
    // missing data file passes).
    const int sizes[][2] = { {}, { 31, 0 }, { 65536, -1 }, { 20, 24 } };
    const int size = sizes[level][failingCheck > 4 ? 1 : 0];
    if (level == 1 || failingCheck > 3)
        setFile(level,
            size > 0 ? env->writeFile("file.bin", contentOfSize(size))
                     : (size < 0 ? env->filePath("missing.bin") : QString()));

    run(level);
    QCOMPARE(nextBox(QMessageBox::Critical).text, message);
    // Nothing was launched: the window closes at once, with no box about a running action.
    QVERIFY(window->close());
    QCOMPARE(observer->messageBoxes().size(), 1);
    QCOMPARE(widget<QListWidget>("outputList")->count(), 0);
    QVERIFY(pluginJournal->entries().isEmpty());
}

void TestActions::successiveActionsFromTheWindow()
{
    // Basic runs on a Maskrom board; here its OTP holds no valid CPU id.
    bench->attach(QStringLiteral("b1"), ZvSim::Maskrom);
    bench->setOtp(QStringLiteral("b1"), QByteArray(17, '\0'));
    openWindow();
    auto *list = widget<QListWidget>("outputList");
    list->addItem(QStringLiteral("line of an earlier action"));
    run(1);
    QCOMPARE(nextBox(QMessageBox::Critical).text, "Action failed,err=-3!");
    QCOMPARE(outputLines(), expectLines("read cpuid...|read cpuid...fail", true));

    run(3);
    QCOMPARE(nextBox(QMessageBox::Critical).text, "No key file!");
    QCOMPARE(list->count(), 2); // a refusal leaves the previous action's lines

    // A slow board, a read-only key at index 3: the window is busy but processes events,
    // and the result box comes while the action's thread finishes and deletes itself.
    bench->setState(QStringLiteral("b1"), ZvSim::Loader);
    window->deviceChangedSlot();
    bench->setDelay(QStringLiteral("b1"), 800);
    const QByteArray key = contentOfSize(32);
    const QString keyPath = env->writeFile("oem.key", key);
    QVERIFY(QFile::setPermissions(keyPath, QFile::ReadOwner));
    setFile(3, keyPath);
    widget<QSpinBox>("highKeySpin")->setValue(3);
    auto *tabs = widget<QTabWidget>("levelTabWidget");
    auto *browse = widget<QPushButton>("dllButton");
    QTimer ticker;
    QSignalSpy ticks(&ticker, &QTimer::timeout);
    ticker.start(10);
    QPointer<QThread> actionThread;
    bool idleWhileResultShown = false, threadEndedWhileResultShown = false;
    observer->setOnMessageBox([&](QMessageBox *box) {
        if (box->icon() != QMessageBox::Information)
            return;
        idleWhileResultShown = tabs->isEnabled() && browse->isEnabled();
        // When its deferred deletion runs depends on the platform's event nesting.
        threadEndedWhileResultShown
            = QTest::qWaitFor([&] { return actionThread.isNull() || actionThread->isFinished(); });
    });
    run(3);
    // The launched action's thread; Windows runs threads of Qt's own beside it.
    actionThread = MainWindowTestAccess::worker(*window)->thread();
    QVERIFY(actionThread && actionThread != QThread::currentThread());
    run(3); // a second click of the same press, before the queued busy state: starts nothing
    QTRY_VERIFY(!tabs->isEnabled());
    QVERIFY(!browse->isEnabled());
    const int ticksAtStart = ticks.count();
    QVERIFY(!window->close());
    QCOMPARE(nextBox(QMessageBox::Warning).text, "Action is still running,stop quit!");
    QCOMPARE(nextBox(QMessageBox::Information).text, "Action ok.");
    // A blocked GUI thread would have let the timer fire about once during the write.
    QVERIFY2(ticks.count() - ticksAtStart >= 10, qPrintable(QString::number(ticks.count() - ticksAtStart)));
    QVERIFY(idleWhileResultShown);
    QVERIFY(threadEndedWhileResultShown);
    QTRY_VERIFY(actionThread.isNull()); // and it deleted itself
    QCOMPARE(outputLines(), expectLines(doneLines[RUN_ACTION_HIGH], false));
    QCOMPARE(bench->written(QStringLiteral("b1"), ZvSim::proofKeyTarget(3)), key);

    QTRY_VERIFY(window->close());
    QCOMPARE(observer->messageBoxes().size(), boxesRead);
    QCOMPARE(bench->journalCalls(QStringLiteral("ZV_WriteProofKey")).size(), 1);
}

void TestActions::traceRecordsWhatHappened()
{
    const MessageHandlerGuard handlerGuard; // "LOG" installs the log file's handler
    bench->attach(QStringLiteral("b1"));
    const QString station = QStringLiteral("line 3 \"east\" 工位");
    openWindow(true, 7,
        { { "TRACE", true }, { "STATION", station }, { "APP_VERSION", "1.0.0" }, { "LOG", true } });
    const auto bytesFrom = [](const char *seed, int size) {
        QByteArray bytes;
        for (int i = 0; bytes.size() < size; ++i)
            bytes += QCryptographicHash::hash(seed + QByteArray::number(i), QCryptographicHash::Sha256);
        return bytes.left(size);
    };
    const QByteArray basicKey = bytesFrom("basic key", 32), data = bytesFrom("data", 100),
                     oemKey = bytesFrom("oem key", 24);
    int recordsAtResult = -1;
    observer->setOnMessageBox([&](QMessageBox *) { recordsAtResult = traceRecords().size(); });
    const QDateTime begin = QDateTime::currentDateTimeUtc().addMSecs(-1);

    setFile(1, env->writeFile("basic.key", basicKey));
    run(1);
    QCOMPARE(nextBox(QMessageBox::Information).text, "Action ok.");
    QCOMPARE(recordsAtResult, 1); // on the disk before the result box
    run(3);
    QCOMPARE(nextBox(QMessageBox::Critical).text, "No key file!"); // a refused click: no record
    setFile(2, env->writeFile("plain.bin", data));
    run(2);
    QCOMPARE(nextBox(QMessageBox::Information).text, "Action ok.");
    bench->failCall(QStringLiteral("b1"), QStringLiteral("ZV_WriteProofKey"));
    setFile(3, env->writeFile("oem.key", oemKey));
    widget<QSpinBox>("highKeySpin")->setValue(2);
    run(3);
    QCOMPARE(nextBox(QMessageBox::Critical).text, "Action failed,err=-7!");
    bench->failCall(QStringLiteral("b1"), QStringLiteral("ZV_ReadOtpData"));
    setFile(1, QString());
    run(1);
    QCOMPARE(nextBox(QMessageBox::Critical).text, "Action failed,err=-4!");
    QCOMPARE(recordsAtResult, 4);
    const QDateTime end = QDateTime::currentDateTimeUtc();

    const QList<TraceRecord> records = traceRecords();
    QCOMPARE(records.size(), 4);
    const QString pluginPath = QString::fromUtf8(TestPlugins::recordingPlugin);
    QFile plugin(pluginPath);
    QVERIFY(plugin.open(QIODevice::ReadOnly));
    const QString pluginSha = QCryptographicHash::hash(plugin.readAll(), QCryptographicHash::Sha256).toHex();
    const auto fingerprint = [](const QByteArray &key) {
        return QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).left(8).toHex());
    };
    const QString cpuId = bench->cpuId(QStringLiteral("b1")).toHex();
    struct Expected
    {
        const char *level;
        std::optional<QString> cpuId, keyFingerprint;
        std::optional<int> keyIndex;
        std::optional<qint64> dataSize;
        std::optional<QString> dataSha256;
        qint32 exitCode;
    };
    const Expected expected[] = {
        { "basic", cpuId, fingerprint(basicKey), {}, {}, {}, 0 },
        { "middle", {}, {}, {}, data.size(),
            QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()), 0 },
        { "high", {}, fingerprint(oemKey), 2, {}, {}, -7 },
        { "basic", {}, {}, {}, {}, {}, -4 },
    };
    QDateTime previousStart = begin;
    for (int i = 0; i < records.size(); ++i) {
        const TraceRecord &record = records.at(i);
        QCOMPARE(record.seq, i + 1);
        QCOMPARE(record.station, station);
        QCOMPARE(record.tool, "Korvane 1.0.0");
        QCOMPARE(record.plugin, QFileInfo(pluginPath).fileName());
        QCOMPARE(record.pluginSha256, pluginSha);
        QCOMPARE(record.board, "Loader");
        QCOMPARE(record.level, expected[i].level);
        QCOMPARE(record.cpuId, expected[i].cpuId);
        QCOMPARE(record.keyFingerprint, expected[i].keyFingerprint);
        QCOMPARE(record.keyIndex, expected[i].keyIndex);
        QCOMPARE(record.dataSize, expected[i].dataSize);
        QCOMPARE(record.dataSha256, expected[i].dataSha256);
        QCOMPARE(record.exitCode, expected[i].exitCode);
        const QDateTime start = QDateTime::fromString(record.time, Qt::ISODateWithMs);
        QCOMPARE(start.timeSpec(), Qt::UTC);
        QVERIFY(start >= previousStart && start <= end);
        QVERIFY(record.durationMs >= 0 && start.addMSecs(record.durationMs) <= end);
        previousStart = start;
    }

    // Neither the keys, nor the plaintext, nor what the plug-in returned, in any output.
    QByteArray trace;
    for (const QString &path : Trace::filesIn(traceDirectory())) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        trace += file.readAll();
    }
    const QByteArray log = logFile();
    QVERIFY(log.contains("basic action out"));
    QByteArray progress;
    for (const auto &line : outputLines())
        progress += line.first.toUtf8() + '\n';
    const QByteArray secrets[] = { basicKey, data, oemKey, testPluginOutput(bench->cpuId("b1"), 16),
        testPluginOutput(data, data.size()) };
    for (const QByteArray &secret : secrets) {
        for (const QByteArray &form : { secret, secret.toHex(), secret.toHex().toUpper(), secret.toBase64() }) {
            QVERIFY(!trace.contains(form));
            QVERIFY(!log.contains(form));
            QVERIFY(!progress.contains(form));
        }
    }
}

void TestActions::traceOnlyWithTrue_data()
{
    QTest::addColumn<QJsonValue>("trace");
    QTest::newRow("false") << QJsonValue(false);
    QTest::newRow("a string") << QJsonValue("true");
    QTest::newRow("a number") << QJsonValue(1);
}

void TestActions::traceOnlyWithTrue()
{
    QFETCH(QJsonValue, trace);
    bench->attach(QStringLiteral("b1"));
    openWindow(true, 7, { { "TRACE", trace }, { "DUPLICATE_CPUID", "refuse" } });
    run(1);
    QCOMPARE(nextBox(QMessageBox::Information).text, "Action ok.");
    QVERIFY(!QFileInfo::exists(traceDirectory()));
}

void TestActions::duplicateGuard_data()
{
    QTest::addColumn<bool>("trace");
    QTest::addColumn<QString>("guard");
    QTest::addColumn<int>("earlierExitCode"); // of the board's record from before the window
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("warning"); // the red line, when the action goes on
    QTest::addColumn<QString>("logLine");
    const QString time = QStringLiteral("2026-01-02T03:04:05.678Z");
    QTest::newRow("refuse") << true << "refuse" << 0 << -11 << "" << "cpuid already written";
    QTest::newRow("warn") << true << "warn" << 0 << 0 << "cpuid already written at " + time << "";
    QTest::newRow("earlier run failed") << true << "refuse" << -1 << 0 << "" << "";
    QTest::newRow("unknown mode") << true << "REFUSE" << 0 << 0 << "" << "";
    QTest::newRow("without trace") << false << "refuse" << 0 << 0 << "" << "duplicate guard needs TRACE";
}

void TestActions::duplicateGuard()
{
    QFETCH(bool, trace);
    QFETCH(QString, guard);
    QFETCH(int, earlierExitCode);
    QFETCH(int, exitCode);
    QFETCH(QString, warning);
    QFETCH(QString, logLine);
    const MessageHandlerGuard handlerGuard;
    bench->attach(QStringLiteral("b1"));
    traceEarlierBasic(QStringLiteral("2026-01-02T03:04:05.678Z"), earlierExitCode);
    openWindow(true, 7, { { "TRACE", trace }, { "DUPLICATE_CPUID", guard }, { "LOG", true } });
    const int journalStart = bench->journal().size();

    run(1);
    if (exitCode == 0)
        QCOMPARE(nextBox(QMessageBox::Information).text, "Action ok.");
    else
        QCOMPARE(nextBox(QMessageBox::Critical).text, QStringLiteral("Action failed,err=%1!").arg(exitCode));
    Lines lines = expectLines(exitCode == 0 ? doneLines[1] : "read cpuid...|check cpuid...fail", exitCode != 0);
    if (!warning.isEmpty())
        lines.insert(1, { warning, true });
    QCOMPARE(outputLines(), lines);
    const QStringList log = QString::fromUtf8(logFile()).split('\n');
    const auto logged = [&log](const QString &text) {
        return std::any_of(log.begin(), log.end(), [&](const QString &line) { return line.endsWith(text); });
    };
    if (!logLine.isEmpty())
        QVERIFY(logged(logLine));
    QCOMPARE(logged("cpuid already written"), exitCode != 0);
    QCOMPARE(logged("duplicate guard needs TRACE"), !trace);

    // A refusal reaches neither the plug-in nor a device write; it is recorded all the same.
    QStringList deviceCalls;
    for (const QJsonObject &entry : bench->journal().mid(journalStart))
        deviceCalls.append(entry.value("call").toString());
    QCOMPARE(pluginJournal->calls().isEmpty(), exitCode != 0);
    QCOMPARE(deviceCalls.contains("ZV_WriteVendorRpmbData"), exitCode == 0);
    const QList<TraceRecord> records = traceRecords();
    QCOMPARE(records.size(), trace ? 2 : 1);
    QCOMPARE(records.constLast().exitCode, trace ? exitCode : earlierExitCode);
}

void TestActions::guardSeesRecordsOfThisWindow()
{
    bench->attach(QStringLiteral("b1"));
    openWindow(true, 7, { { "TRACE", true }, { "DUPLICATE_CPUID", "refuse" } });
    run(1);
    QCOMPARE(nextBox(QMessageBox::Information).text, "Action ok.");
    run(1);
    QCOMPARE(nextBox(QMessageBox::Critical).text, "Action failed,err=-11!");
    // Another board goes on.
    bench->detach(QStringLiteral("b1"));
    bench->attach(QStringLiteral("b2"));
    window->deviceChangedSlot();
    run(1);
    QCOMPARE(nextBox(QMessageBox::Information).text, "Action ok.");
    QCOMPARE(bench->journalCalls(QStringLiteral("ZV_WriteVendorRpmbData")).size(), 2);
    QCOMPARE(traceRecords().size(), 3);
}

void TestActions::claimInDoubtOrUnavailable_data()
{
    QTest::addColumn<QString>("guard");
    QTest::addColumn<bool>("claimLeft"); // else the trace cannot take a claim
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("in doubt, refuse") << "refuse" << true << -11 << "cpuid in doubt";
    QTest::newRow("in doubt, warn") << "warn" << true << 0 << "cpuid in doubt";
    QTest::newRow("trace not writable, refuse") << "refuse" << false << -13 << "trace not writable";
    QTest::newRow("trace not writable, warn") << "warn" << false << 0 << "trace not writable";
}

void TestActions::claimInDoubtOrUnavailable()
{
    QFETCH(QString, guard);
    QFETCH(bool, claimLeft);
    QFETCH(int, exitCode);
    QFETCH(QString, logLine);
    const MessageHandlerGuard handlerGuard;
    bench->attach(QStringLiteral("b1"));
    const QString since = QStringLiteral("2026-01-02T03:04:05.678Z");
    if (claimLeft) {
        // Left by a program that died between its claim and its record.
        TraceClaim claim = TraceClaims::ownClaim(
            QString::fromLatin1(bench->cpuId(QStringLiteral("b1")).toHex()), since, QStringLiteral("Bench 7"));
        claim.pid = 0;
        QCOMPARE(TraceClaims::create(traceDirectory(), claim), TraceClaims::Creation::Created);
    } else {
        env->writeFile(QStringLiteral("trace"), "a file where the directory should be");
    }
    openWindow(true, 7, { { "TRACE", true }, { "DUPLICATE_CPUID", guard }, { "LOG", true } });

    run(1);
    if (exitCode == 0)
        QCOMPARE(nextBox(QMessageBox::Information).text, "Action ok.");
    else
        QCOMPARE(nextBox(QMessageBox::Critical).text, QStringLiteral("Action failed,err=%1!").arg(exitCode));
    Lines lines = expectLines(exitCode == 0 ? doneLines[1]
            : claimLeft                     ? "read cpuid...|check cpuid...fail"
                                            : "read cpuid...|check trace...fail",
        exitCode != 0);
    if (claimLeft)
        lines.insert(1, { "cpuid in doubt since " + since + " on Bench 7", true });
    else
        lines.append({ "write trace...fail", true });
    QCOMPARE(outputLines(), lines);
    QVERIFY(logFile().contains(logLine.toUtf8()));
    QCOMPARE(pluginJournal->calls().isEmpty(), exitCode != 0);
    QCOMPARE(bench->journalCalls(QStringLiteral("ZV_WriteVendorRpmbData")).size(), exitCode == 0 ? 1 : 0);
}

void TestActions::unwritableTraceKeepsTheResult()
{
    const MessageHandlerGuard handlerGuard;
    bench->attach(QStringLiteral("b1"));
    env->writeFile(QStringLiteral("trace"), "a file where the directory should be");
    openWindow(true, 7, { { "TRACE", true }, { "LOG", true } });
    run(1);
    QCOMPARE(nextBox(QMessageBox::Information).text, "Action ok.");
    QCOMPARE(outputLines(), expectLines(doneLines[1], false) << qMakePair(QStringLiteral("write trace...fail"), true));
    QVERIFY(logFile().contains("failed to write trace"));

    // The next action tries again.
    QVERIFY(QFile::remove(traceDirectory()));
    run(1);
    QCOMPARE(nextBox(QMessageBox::Information).text, "Action ok.");
    QCOMPARE(outputLines(), expectLines(doneLines[1], false));
    const QList<TraceRecord> records = traceRecords();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.constFirst().seq, 1);
}

QTEST_MAIN(TestActions)
#include "tst_actions.moc"
