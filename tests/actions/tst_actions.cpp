#include "actionlimits.h"
#include "logcapture.h"
#include "mainwindowtestaccess.h"
#include "samplerecords.h"
#include "testplugins.h"
#include "threadworker.h"
#include "traceclaims.h"
#include "tracefiles.h"
#include "tracejournal.h"
#include "windowtestcase.h"

#include "ZVUpgrade_DLL.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QThread>

#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#endif

namespace {

const char *const levelNames[] = { nullptr, "basic", "middle", "high" };

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

// Runs a worker's process() on the calling thread: its lines and finished(), in the
// order emitted, and its debug log.
qint32 runAction(int level, const QString &file, quint8 keyIndex, OutputLines &events, QStringList &log)
{
    ThreadWorker worker;
    const bool middle = level == RUN_ACTION_MIDDLE;
    worker.setParams(middle ? file : QString(), middle ? QString() : file, keyIndex);
    worker.setAction(RunAction_T(level));
    QObject::connect(&worker, &ThreadWorker::update_process, [&events](const QString &text, bool error) {
        events.append({ text, error });
    });
    QObject::connect(&worker, &ThreadWorker::finished, [&events] { events.append({ "finished()", false }); });
    const LogCapture capture;
    worker.process();
    log = capture.messages(QtDebugMsg);
    return worker.getExitCode();
}

} // namespace

// The procedures on their own, then launched from the window, against the simulated
// bench and the recording plug-in.
class TestActions : public WindowTestCase
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(keepRecordingPluginMapped()); }
    void sizeLimits_data();
    void sizeLimits();
    void procedure_data();
    void procedure();
    void refusalsInOrder_data();
    void refusalsInOrder();
    void successiveActionsFromTheWindow();
    void traceRecordsWhatHappened();
    void duplicateGuard_data();
    void duplicateGuard();

private:
    void openWindow(bool withPlugin = true, int proofLevel = 7, QJsonObject config = {})
    {
        if (withPlugin)
            config.insert("DLL", QString::fromUtf8(TestPlugins::recordingPlugin));
        env->writeFile(QStringLiteral("config.json"), QJsonDocument(config).toJson());
        qputenv("KORVANE_TEST_PROOF_LEVEL", QByteArray::number(proofLevel));
        driver->open();
        QVERIFY(pluginJournal->clear()); // only what actions call is of interest
    }
    QString traceDirectory() const { return env->filePath(QStringLiteral("trace")); }
    QList<TraceRecord> traceRecords() const { return chainedTraceRecords(traceDirectory()); }
};

// The bounds of the files, which the Run buttons' checks and the procedures share.
void TestActions::sizeLimits_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("basicKey");
    QTest::addColumn<bool>("highKey");
    QTest::addColumn<bool>("proofData");
    QTest::newRow("-1") << qint64(-1) << false << false << false;
    QTest::newRow("0") << qint64(0) << false << false << true;
    for (const qint64 size : { 15, 16, 17, 23, 24, 25, 31, 32, 33 })
        QTest::addRow("%lld", size) << size << (size == 32) << (size == 16 || size == 24 || size == 32) << true;
    QTest::newRow("65535") << qint64(65535) << false << false << true;
    QTest::newRow("65536") << qint64(65536) << false << false << false;
}

void TestActions::sizeLimits()
{
    QFETCH(qint64, size);
    QFETCH(bool, basicKey);
    QFETCH(bool, highKey);
    QFETCH(bool, proofData);
    QCOMPARE(isValidBasicKeySize(size), basicKey);
    QCOMPARE(isValidHighKeySize(size), highKey);
    QCOMPARE(isValidProofDataSize(size), proofData);
}

void TestActions::procedure_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("failingCall"); // the device call that fails on the board
    QTest::addColumn<bool>("encryptFails");
    QTest::addColumn<int>("otpCount"); // the OTP area's count byte; -1: the board's own CPU id
    QTest::addColumn<int>("keyIndex");
    QTest::addColumn<QString>("file"); // none, "missing", "pipe", a device or a size in bytes
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("logLine"); // between the level's in and out lines
    QTest::addColumn<QStringList>("pluginCalls");
    QTest::addColumn<QStringList>("deviceCalls"); // none after a failing one
    const auto row = [](int level, const QString &failingCall, bool encryptFails, int otpCount, int keyIndex,
                         const QString &file, int exitCode, const QStringList &lines, const QString &logLine,
                         const QStringList &pluginCalls, const QStringList &deviceCalls) {
        QTest::addRow("exit %d, level %d %s%s otp %d index %d file %s", exitCode, level, qPrintable(failingCall),
            encryptFails ? "encrypt fails" : "", otpCount, keyIndex, qPrintable(file))
            << level << failingCall << encryptFails << otpCount << keyIndex << file << exitCode << lines << logLine
            << pluginCalls << deviceCalls;
    };
    const QStringList basicDevice { "ZV_ReadOtpData", "ZV_WriteVendorRpmbData" };
    const QStringList basicPlugin { "addBufferParam", "doBasicEncrypt" };
    const QStringList middlePlugin { "addBufferParam", "doMiddleEncrypt" };
    const QStringList readOtp { "ZV_ReadOtpData" }, none;
    // Ids shorter than the board's own (17, the rows below): only their length is written.
    for (int count : { 1, 10 })
        row(1, "", false, count, 1, "", 0, doneLines(1), "", basicPlugin, basicDevice);
    row(1, "", false, -1, 1, "32", 0, doneLines(1), "", QStringList { "addBufferParam" } + basicPlugin,
        basicDevice);
    for (const char *size : { "0", "65535" })
        row(2, "", false, -1, 1, size, 0, doneLines(2), "", middlePlugin, { "ZV_WriteProofData" });
    for (const QPair<int, int> &key : { qMakePair(16, 0), qMakePair(24, 2), qMakePair(32, 3) })
        row(3, "", false, -1, key.second, QString::number(key.first), 0, doneLines(3), "", none,
            { "ZV_WriteProofKey" });

    row(1, "ZV_WriteVendorRpmbData", false, -1, 1, "", -1,
        doneLines(1).mid(0, 3) << "write cpuid...fail", "failed to write cpuid", basicPlugin, basicDevice);
    row(1, "", true, -1, 1, "32", -2, { "read cpuid...", "encode cpuid...", "encode cpuid...fail" },
        "failed to encode cpuid", QStringList { "addBufferParam" } + basicPlugin, readOtp);
    // The count byte, and the signed value it is logged as.
    for (const QPair<int, int> &count : { qMakePair(0, 0), qMakePair(18, 18), qMakePair(200, -56) })
        row(1, "", false, count.first, 1, "", -3, { "read cpuid...", "read cpuid...fail" },
            QStringLiteral("invalid cpuid size,size= %1").arg(count.second), none, readOtp);
    row(1, "ZV_ReadOtpData", false, -1, 1, "", -4, { "read cpuid...", "read cpuid...fail" },
        "failed to read cpuid", none, readOtp);
    row(2, "ZV_WriteProofData", false, -1, 1, "100", -5,
        { "encode data...", "write encoded data...", "write encoded data...fail" },
        "failed to write encoded data", middlePlugin, { "ZV_WriteProofData" });
    row(2, "", true, -1, 1, "100", -6, { "encode data...", "encode data...fail" }, "failed to encrypt data",
        middlePlugin, none);
    row(3, "ZV_WriteProofKey", false, -1, 1, "24", -7, { "write oem key...", "write oem key...fail" },
        "failed to write oem key", none, { "ZV_WriteProofKey" });
    // A key file's size is checked again; that a missing file is never made, the data file's row.
    for (int level : { 1, 3 })
        row(level, "", false, -1, 1, level == 1 ? "31" : "20", -8, { "read key file...fail" },
            "failed to read key file", none, none);
    // A pipe nobody writes to once held the action, and the window, for good; so would
    // Windows' device names (CON as well, but Wine then keeps the test from exiting).
    QStringList unreadable { "missing", "pipe" };
#ifdef Q_OS_WIN
    unreadable << "NUL" << "\\\\.\\NUL";
#endif
    for (const QString &file : unreadable)
        row(2, "", false, -1, 1, file, -9, { "read data file...fail" }, "failed to read data file", none,
            none);
    row(2, "", false, -1, 1, "65536", -10, { "read data file...fail" }, "invalid data size,size= 65536", none,
        none);
    for (int level : { 0, 4 })
        row(level, "", false, -1, 1, "", -255, { "invalid action" }, QStringLiteral("invalid action: %1").arg(level),
            none, none);
}

void TestActions::procedure()
{
    QFETCH(int, level);
    QFETCH(QString, failingCall);
    QFETCH(bool, encryptFails);
    QFETCH(int, otpCount);
    QFETCH(int, keyIndex);
    QFETCH(QString, file);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QString, logLine);
    QFETCH(QStringList, pluginCalls);
    QFETCH(QStringList, deviceCalls);
    bench->attach(QStringLiteral("b1"));
    openWindow();
    QByteArray cpuId = bench->cpuId(QStringLiteral("b1"));
    if (!failingCall.isEmpty())
        bench->failCall(QStringLiteral("b1"), failingCall);
    if (encryptFails)
        qputenv("KORVANE_TEST_FAIL_ENCRYPT", levelNames[level]);
    if (otpCount >= 0) {
        const QByteArray otp = char(otpCount) + QByteArray::fromHex("00112233445566778899aabbccddeeff");
        bench->setOtp(QStringLiteral("b1"), otp);
        cpuId = otp.mid(1, otpCount - 1);
    }
    const QByteArray content = contentOfSize(file.toInt());
    QString path = file.isEmpty() ? QString() : env->filePath(file);
    if (!file.isEmpty() && file.front().isDigit())
        path = env->writeFile(file, content);
#ifdef Q_OS_WIN
    HANDLE pipeServer = INVALID_HANDLE_VALUE;
    const auto closePipe = qScopeGuard([&] {
        if (pipeServer != INVALID_HANDLE_VALUE)
            CloseHandle(pipeServer);
    });
    if (file.contains("NUL"))
        path = file;
    if (file == "pipe") {
        path = QStringLiteral("\\\\.\\pipe\\korvane-actions-%1").arg(GetCurrentProcessId());
        pipeServer = CreateNamedPipeW(reinterpret_cast<const wchar_t *>(path.utf16()), PIPE_ACCESS_DUPLEX,
            PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
        QVERIFY(pipeServer != INVALID_HANDLE_VALUE);
    }
#else
    if (file == "pipe")
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
    const int journalStart = bench->journal().size();
    OutputLines events;
    QStringList log;

    QCOMPARE(runAction(level, path, quint8(keyIndex), events, log), exitCode);

    // Exactly one final line, the last, red for a failure; finished() once, after it.
    QCOMPARE(events, actionLines(lines, exitCode != 0) << qMakePair(QStringLiteral("finished()"), false));
    const QString name = level >= RUN_ACTION_BASIC && level <= RUN_ACTION_HIGH ? levelNames[level] : "";
    QStringList expectedLog = name.isEmpty()
        ? QStringList { logLine }
        : QStringList { name + " action in", logLine, name + " action out" };
    expectedLog.removeAll(QString());
    QCOMPARE(log, expectedLog); // nothing else: no key in the log
    QCOMPARE(pluginJournal->calls(), pluginCalls);
    QCOMPARE(bench->callsSince(journalStart), deviceCalls);
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
    // The board's target follows the call's length and key index.
    const QString target = level == RUN_ACTION_BASIC ? ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID)
        : level == RUN_ACTION_MIDDLE                 ? ZvSim::proofDataTarget()
                                                     : ZvSim::proofKeyTarget(keyIndex);
    QCOMPARE(bench->written(QStringLiteral("b1"), target), written);
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
    const QList<int> none, maskrom { ZvSim::Maskrom }, invalid { 7 };
    // The plug-in is checked before any level's checks. A label that names neither board
    // state is one case; tst_hardening has the empty one of a failed scan.
    QTest::newRow("no plug-in") << 2 << 1 << none << notLoaded;
    QTest::newRow("basic: not supported") << 1 << 2 << none << "Dll did not support to do basic action!";
    QTest::newRow("basic: 31-byte key") << 1 << 4 << none << badKey;
    QTest::newRow("basic: invalid board") << 1 << 5 << invalid << noDevice;
    QTest::newRow("middle: not supported") << 2 << 2 << none << "Dll did not support to do middle action!";
    QTest::newRow("middle: no file") << 2 << 3 << none << "No plain file!";
    QTest::newRow("middle: 65536 bytes") << 2 << 4 << none << "size invalid for plain file!";
    QTest::newRow("middle: maskrom board") << 2 << 5 << maskrom << loaderOnly;
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
        driver->setFile(level,
            size > 0 ? env->writeFile("file.bin", contentOfSize(size))
                     : (size < 0 ? env->filePath("missing.bin") : QString()));

    driver->run(level);
    QCOMPARE(driver->nextBox(QMessageBox::Critical), message);
    // Nothing was launched: the window closes at once, with no box about a running action.
    QVERIFY(driver->window()->close());
    QCOMPARE(driver->observer().messageBoxes().size(), 1);
    QCOMPARE(driver->widget<QListWidget>("outputList")->count(), 0);
    QVERIFY(pluginJournal->entries().isEmpty());
}

void TestActions::successiveActionsFromTheWindow()
{
    // Basic runs on a Maskrom board; here its OTP holds no valid CPU id.
    bench->attach(QStringLiteral("b1"), ZvSim::Maskrom);
    bench->setOtp(QStringLiteral("b1"), QByteArray(17, '\0'));
    openWindow();
    auto *list = driver->widget<QListWidget>("outputList");
    list->addItem(QStringLiteral("line of an earlier action"));
    driver->run(1);
    QCOMPARE(driver->nextBox(QMessageBox::Critical), "Action failed,err=-3!");
    QCOMPARE(driver->outputLines(), actionLines({ "read cpuid...", "read cpuid...fail" }, true));

    driver->run(3);
    QCOMPARE(driver->nextBox(QMessageBox::Critical), "No key file!");
    QCOMPARE(list->count(), 2); // a refusal leaves the previous action's lines

    // A slow board, a read-only key at index 3: the result box comes while the action's
    // thread finishes and deletes itself. (The busy window's events are tst_hardening's.)
    bench->setState(QStringLiteral("b1"), ZvSim::Loader);
    driver->window()->deviceChangedSlot();
    bench->setDelay(QStringLiteral("b1"), 800);
    const QByteArray key = contentOfSize(32);
    const QString keyPath = env->writeFile("oem.key", key);
    QVERIFY(QFile::setPermissions(keyPath, QFile::ReadOwner));
    driver->setFile(3, keyPath);
    driver->widget<QSpinBox>("highKeySpin")->setValue(3);
    auto *tabs = driver->widget<QTabWidget>("levelTabWidget");
    auto *browse = driver->widget<QPushButton>("dllButton");
    QPointer<QThread> actionThread;
    bool idleWhileResultShown = false, threadEndedWhileResultShown = false;
    driver->observer().setOnMessageBox([&](QMessageBox *box) {
        if (box->icon() != QMessageBox::Information)
            return;
        idleWhileResultShown = tabs->isEnabled() && browse->isEnabled();
        // When its deferred deletion runs depends on the platform's event nesting.
        threadEndedWhileResultShown
            = QTest::qWaitFor([&] { return actionThread.isNull() || actionThread->isFinished(); });
    });
    driver->run(3);
    // The launched action's thread; Windows runs threads of Qt's own beside it.
    const ThreadWorker *worker = MainWindowTestAccess::worker(*driver->window());
    QVERIFY(worker);
    actionThread = worker->thread();
    QVERIFY(actionThread && actionThread != QThread::currentThread());
    driver->run(3); // a second click of the same press, before the queued busy state: starts nothing
    QVERIFY(!driver->window()->close()); // refused on the worker alone, the busy flag not set yet
    QCOMPARE(driver->nextBox(QMessageBox::Warning), "Action is still running,stop quit!");
    QCOMPARE(driver->nextBox(QMessageBox::Information), "Action ok.");
    QVERIFY(idleWhileResultShown);
    QVERIFY(threadEndedWhileResultShown);
    QTRY_VERIFY(actionThread.isNull()); // and it deleted itself
    QCOMPARE(driver->outputLines(), actionLines(doneLines(RUN_ACTION_HIGH), false));
    QCOMPARE(bench->written(QStringLiteral("b1"), ZvSim::proofKeyTarget(3)), key);

    QTRY_VERIFY(driver->window()->close());
    QCOMPARE(driver->observer().messageBoxes().size(), driver->boxesRead());
    QCOMPARE(bench->journalCalls(QStringLiteral("ZV_WriteProofKey")).size(), 1);
}

void TestActions::traceRecordsWhatHappened()
{
    bench->attach(QStringLiteral("b1"));
    const QString station = QStringLiteral("line 3 \"east\" 工位");
    openWindow(true, 7, { { "TRACE", true }, { "STATION", station }, { "APP_VERSION", "1.0.0" } });
    const QByteArray basicKey = contentOfSize(32), data = contentOfSize(100), oemKey = contentOfSize(24);
    int recordsAtResult = -1;
    driver->observer().setOnMessageBox([&](QMessageBox *) { recordsAtResult = traceRecords().size(); });
    const QDateTime begin = QDateTime::currentDateTimeUtc().addMSecs(-1);

    driver->setFile(1, env->writeFile("basic.key", basicKey));
    driver->run(1);
    QCOMPARE(driver->nextBox(QMessageBox::Information), "Action ok.");
    QCOMPARE(recordsAtResult, 1); // on the disk before the result box
    driver->setFile(2, env->writeFile("plain.bin", data));
    driver->run(2);
    QCOMPARE(driver->nextBox(QMessageBox::Information), "Action ok.");
    bench->failCall(QStringLiteral("b1"), QStringLiteral("ZV_WriteProofKey"));
    driver->setFile(3, env->writeFile("oem.key", oemKey));
    driver->widget<QSpinBox>("highKeySpin")->setValue(2);
    driver->run(3);
    QCOMPARE(driver->nextBox(QMessageBox::Critical), "Action failed,err=-7!");
    bench->failCall(QStringLiteral("b1"), QStringLiteral("ZV_ReadOtpData"));
    driver->setFile(1, QString());
    driver->run(1);
    QCOMPARE(driver->nextBox(QMessageBox::Critical), "Action failed,err=-4!");
    QCOMPARE(recordsAtResult, 4);
    const QDateTime end = QDateTime::currentDateTimeUtc();

    const QList<TraceRecord> records = traceRecords();
    QCOMPARE(records.size(), 4);
    const QString pluginPath = QString::fromUtf8(TestPlugins::recordingPlugin);
    const QString pluginSha = QCryptographicHash::hash(readFile(pluginPath), QCryptographicHash::Sha256).toHex();
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
    for (int i = 0; i < records.size(); ++i) {
        const TraceRecord &record = records.at(i);
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
        QVERIFY(start >= begin && record.durationMs >= 0 && start.addMSecs(record.durationMs) <= end);
    }

    // Neither the keys, nor the plaintext, nor what the plug-in returned, in any form; the
    // lines and the log are procedure()'s, compared whole.
    QByteArray trace;
    for (const QString &path : Trace::filesIn(traceDirectory()))
        trace += readFile(path);
    const QByteArray secrets[] = { basicKey, data, oemKey, testPluginOutput(bench->cpuId("b1"), 16),
        testPluginOutput(data, data.size()) };
    for (const QByteArray &secret : secrets) {
        for (const QByteArray &form : { secret, secret.toHex(), secret.toHex().toUpper(), secret.toBase64() })
            QVERIFY(!trace.contains(form));
    }
}

// What the trace holds for the board before the window starts.
enum Before { EarlierSuccess, ClaimLeft, TraceBlocked };

// The guard's answer to each state of the trace, as the window's settings choose it. Which
// records count, a failed one not, is the index's (tests/trace).
void TestActions::duplicateGuard_data()
{
    QTest::addColumn<bool>("trace"); // else "TRACE" is the string "true", which is no switch
    QTest::addColumn<QString>("guard");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<OutputLines>("lines");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<int>("records"); // readable afterwards, the earlier one included
    const QString since = QStringLiteral("2026-01-02T03:04:05.678Z");
    const OutputLines done = actionLines(doneLines(1), false);
    const auto refused = [](const char *check) {
        return actionLines({ "read cpuid...", QStringLiteral("check %1...fail").arg(check) }, true);
    };
    const auto with = [](OutputLines lines, int at, const QString &red) {
        lines.insert(at < 0 ? lines.size() : at, { red, true });
        return lines;
    };
    const QString inDoubt = "cpuid in doubt since " + since + " on Bench 7";
    QTest::newRow("refuse") << true << "refuse" << int(EarlierSuccess) << -11 << refused("cpuid")
                            << "cpuid already written" << 2;
    QTest::newRow("warn") << true << "warn" << int(EarlierSuccess) << 0
                          << with(done, 1, "cpuid already written at " + since) << "" << 2;
    QTest::newRow("unknown mode") << true << "REFUSE" << int(EarlierSuccess) << 0 << done << "" << 2;
    QTest::newRow("without trace") << false << "refuse" << int(EarlierSuccess) << 0 << done
                                   << "duplicate guard needs TRACE" << 1;
    // Left by a program that died between its claim and its record.
    QTest::newRow("in doubt, refuse") << true << "refuse" << int(ClaimLeft) << -11
                                      << with(refused("cpuid"), 1, inDoubt) << "cpuid in doubt" << 1;
    QTest::newRow("in doubt, warn") << true << "warn" << int(ClaimLeft) << 0 << with(done, 1, inDoubt)
                                    << "cpuid in doubt" << 1;
    QTest::newRow("trace not writable, refuse")
        << true << "refuse" << int(TraceBlocked) << -13 << with(refused("trace"), -1, "write trace...fail")
        << "trace not writable" << 0;
    // The board is written all the same, and the result stays.
    QTest::newRow("trace not writable, warn")
        << true << "warn" << int(TraceBlocked) << 0 << with(done, -1, "write trace...fail")
        << "failed to write trace" << 0;
}

void TestActions::duplicateGuard()
{
    QFETCH(bool, trace);
    QFETCH(QString, guard);
    QFETCH(int, before);
    QFETCH(int, exitCode);
    QFETCH(OutputLines, lines);
    QFETCH(QString, logLine);
    QFETCH(int, records);
    const LogCapture capture;
    bench->attach(QStringLiteral("b1"));
    const QString since = QStringLiteral("2026-01-02T03:04:05.678Z");
    const QString cpuId = QString::fromLatin1(bench->cpuId(QStringLiteral("b1")).toHex());
    if (before == EarlierSuccess) {
        TraceRecord earlier = SampleRecords::record(since, QStringLiteral("basic"), cpuId);
        QVERIFY(TraceJournal(traceDirectory()).append(earlier));
    } else if (before == ClaimLeft) {
        TraceClaim claim = TraceClaims::ownClaim(cpuId, since, QStringLiteral("Bench 7"));
        claim.pid = 0;
        QCOMPARE(TraceClaims::create(traceDirectory(), claim), TraceClaims::Creation::Created);
    } else {
        env->writeFile(QStringLiteral("trace"), "a file where the directory should be");
    }
    openWindow(true, 7,
        { { "TRACE", trace ? QJsonValue(true) : QJsonValue("true") }, { "DUPLICATE_CPUID", guard } });
    const int journalStart = bench->journal().size();

    driver->run(1);
    QCOMPARE(driver->nextResult(),
        exitCode == 0 ? QStringLiteral("Action ok.") : QStringLiteral("Action failed,err=%1!").arg(exitCode));
    QCOMPARE(driver->outputLines(), lines);
    const QStringList log = capture.messages(QtDebugMsg);
    QVERIFY(logLine.isEmpty() || log.contains(logLine));
    QCOMPARE(log.contains("cpuid already written"), logLine == "cpuid already written");
    QCOMPARE(log.contains("duplicate guard needs TRACE"), !trace);

    // A refusal reaches neither the plug-in nor a device write; it is recorded all the same.
    QCOMPARE(pluginJournal->calls().isEmpty(), exitCode != 0);
    QCOMPARE(bench->callsSince(journalStart).contains("ZV_WriteVendorRpmbData"), exitCode == 0);
    const QList<TraceRecord> written = traceRecords();
    QCOMPARE(written.size(), records);
    if (records > 0)
        QCOMPARE(written.constLast().exitCode, trace ? exitCode : 0);

    // The next action tries the trace again.
    if (before == TraceBlocked) {
        QVERIFY(QFile::remove(traceDirectory()));
        driver->run(1);
        QCOMPARE(driver->nextResult(), "Action ok.");
        QCOMPARE(traceRecords().size(), 1);
    }
}

QTEST_MAIN(TestActions)
#include "tst_actions.moc"
