#include "pluginjournal.h"
#include "pluginloader.h"
#include "testbench.h"
#include "testenvironment.h"
#include "testplugins.h"
#include "threadworker.h"

#include "ZVUpgrade_DLL.h"

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QTest>

#include <memory>

namespace {

// What one run of a worker reported, in the order it reported it.
struct ActionRun
{
    QList<QPair<QString, bool>> lines;
    int finishedCount = 0;
    int linesAtFinished = -1; // lines reported when finished() came
    qint32 exitCode = 0;

    QStringList texts() const
    {
        QStringList result;
        for (const auto &line : lines)
            result.append(line.first);
        return result;
    }
};

// Runs the worker's process() on the calling thread and records its signals.
ActionRun runAction(RunAction_T level, const QString &plainFile = QString(),
    const QString &keyFile = QString(), quint8 keyIndex = 0)
{
    ActionRun run;
    ThreadWorker worker;
    worker.setParams(plainFile, keyFile, keyIndex);
    worker.setAction(level);
    QObject::connect(&worker, &ThreadWorker::update_process, [&run](const QString &text, bool error) {
        run.lines.append({ text, error });
    });
    QObject::connect(&worker, &ThreadWorker::finished, [&run] {
        ++run.finishedCount;
        run.linesAtFinished = run.lines.size();
    });
    worker.process();
    run.exitCode = worker.getExitCode();
    return run;
}

QStringList callNames(const QList<QJsonObject> &journal)
{
    QStringList names;
    for (const QJsonObject &entry : journal)
        names.append(entry.value(QLatin1String("call")).toString());
    return names;
}

// Collects the debug lines written while it lives.
QStringList capturedLog;
class LogCapture
{
public:
    LogCapture()
    {
        capturedLog.clear();
        previous
            = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
                  if (type == QtDebugMsg)
                      capturedLog.append(text);
              });
    }
    ~LogCapture() { qInstallMessageHandler(previous); }
    QStringList lines() const { return capturedLog; }

private:
    QtMessageHandler previous;
};

} // namespace

// The three procedures run directly against the simulated bench and the recording
// plug-in, without a window or a thread.
class TestActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void levelIsKnownToTheMetaTypeSystem();
    void basicCpuIdLength_data();
    void basicCpuIdLength();
    void basicHandsOverTheKeyFile();
    void middleWritesTheEncryptedFile_data();
    void middleWritesTheEncryptedFile();
    void highWritesTheKeyUnderItsIndex_data();
    void highWritesTheKeyUnderItsIndex();
    void failureEndsTheRun_data();
    void failureEndsTheRun();

private:
    // Exactly one final line, the last one, error only for a failure; finished() once, after it.
    static void verifyFrame(const ActionRun &run, const QStringList &expectedLines, bool failed);
    QString writeFile(const QString &name, qsizetype size);

    QLibrary plugin;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<TestBench> bench;
    std::unique_ptr<PluginJournal> pluginJournal;
};

void TestActions::initTestCase()
{
    QVERIFY(loadPluginLibrary(QString::fromUtf8(TestPlugins::recordingPlugin), plugin).accepted());
}

void TestActions::init()
{
    env = std::make_unique<TestEnvironment>();
    QVERIFY(env->isValid());
    bench = std::make_unique<TestBench>(env->benchDirectory());
    pluginJournal = std::make_unique<PluginJournal>(env->filePath(QStringLiteral("plugin.jsonl")));
    bench->attach(QStringLiteral("b1"), ZvSim::Loader);
}

void TestActions::cleanup()
{
    qunsetenv("KORVANE_TEST_FAIL_ENCRYPT");
    pluginJournal.reset();
    bench.reset();
    env.reset();
}

void TestActions::verifyFrame(const ActionRun &run, const QStringList &expectedLines, bool failed)
{
    QCOMPARE(run.texts(), expectedLines);
    for (int i = 0; i < run.lines.size(); ++i)
        QCOMPARE(run.lines.at(i).second, failed && i == run.lines.size() - 1);
    QCOMPARE(run.finishedCount, 1);
    QCOMPARE(run.linesAtFinished, run.lines.size());
}

QString TestActions::writeFile(const QString &name, qsizetype size)
{
    QByteArray content(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        content[i] = char(i * 7 + 3);
    return env->writeFile(name, content);
}

void TestActions::levelIsKnownToTheMetaTypeSystem()
{
    ThreadWorker worker;
    QVERIFY(QMetaType::fromName("RunAction_T").isValid());
    QCOMPARE(QMetaType::fromName("RunAction_T"), QMetaType::fromType<RunAction_T>());
    QVERIFY(worker.setProperty("Action", QVariant::fromValue(RUN_ACTION_HIGH)));
    QCOMPARE(worker.getAction(), RUN_ACTION_HIGH);
    QCOMPARE(worker.property("ExitCode").toInt(), 0);
}

void TestActions::basicCpuIdLength_data()
{
    QTest::addColumn<int>("countByte");
    for (int count : { 1, 10, 17, 0, 18, 200 })
        QTest::addRow("%d", count) << count;
}

void TestActions::basicCpuIdLength()
{
    QFETCH(int, countByte);
    const QByteArray otpTail = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    bench->setOtp(QStringLiteral("b1"), char(countByte) + otpTail);
    LogCapture log;

    const ActionRun run = runAction(RUN_ACTION_BASIC);

    const int count = qint8(countByte);
    if (count < 1 || count > 17) {
        QCOMPARE(run.exitCode, -3);
        verifyFrame(run, { "read cpuid...", "read cpuid...fail" }, true);
        QVERIFY(log.lines().contains(QStringLiteral("invalid cpuid size,size= %1").arg(count)));
        QVERIFY(pluginJournal->entries().isEmpty());
        QCOMPARE(callNames(bench->journal()), QStringList { "ZV_ReadOtpData" });
        return;
    }
    const QByteArray cpuId = otpTail.left(count - 1);
    QCOMPARE(run.exitCode, 0);
    verifyFrame(run, { "read cpuid...", "encode cpuid...", "write cpuid...", "basic action done" }, false);
    QCOMPARE(log.lines(), (QStringList { "basic action in", "basic action out" }));

    const QList<PluginJournalEntry> calls = pluginJournal->entries();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].call, "addBufferParam");
    QCOMPARE(calls[0].name, "PLAINTEXT");
    QCOMPARE(calls[0].data, cpuId);
    QCOMPARE(calls[1].call, "doBasicEncrypt");
    QCOMPARE(calls[1].size, 16);

    const QList<QJsonObject> writes = bench->journalCalls(QStringLiteral("ZV_WriteVendorRpmbData"));
    QCOMPARE(writes.size(), 1);
    const QJsonObject args = writes[0].value("args").toObject();
    QCOMPARE(args.value("area").toInt(), ZV_RPMB_VENDOR_CPUID);
    QCOMPARE(args.value("length").toInt(), count - 1);
    QCOMPARE(bench->written("b1", ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID)),
        testPluginOutput(cpuId, 16).left(count - 1));
}

void TestActions::basicHandsOverTheKeyFile()
{
    const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f"
                                               "f0e1d2c3b4a5968778695a4b3c2d1e0f");
    const QString keyPath = env->writeFile(QStringLiteral("aes.key"), key);
    LogCapture log;

    const ActionRun run = runAction(RUN_ACTION_BASIC, QString(), keyPath);

    QCOMPARE(run.exitCode, 0);
    verifyFrame(run, { "read cpuid...", "encode cpuid...", "write cpuid...", "basic action done" }, false);
    const QList<PluginJournalEntry> calls = pluginJournal->entries();
    QCOMPARE(pluginJournal->calls(), (QStringList { "addBufferParam", "addBufferParam", "doBasicEncrypt" }));
    QCOMPARE(calls[0].name, "PLAINTEXT");
    QCOMPARE(calls[1].name, "AESKEY");
    QCOMPARE(calls[1].data, key);
    // The key never reaches the log, in any spelling.
    const QString allLog = log.lines().join('\n');
    QVERIFY(!allLog.contains(QString::fromLatin1(key.toHex()), Qt::CaseInsensitive));
    QVERIFY(!allLog.contains(QString::fromLatin1(key.toHex(' ')), Qt::CaseInsensitive));
    QCOMPARE(bench->written("b1", ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID)),
        testPluginOutput(bench->cpuId("b1"), 16));
}

void TestActions::middleWritesTheEncryptedFile_data()
{
    QTest::addColumn<int>("size");
    for (int size : { 0, 100, 65535 })
        QTest::addRow("%d bytes", size) << size;
}

void TestActions::middleWritesTheEncryptedFile()
{
    QFETCH(int, size);
    const QString path = writeFile(QStringLiteral("data.bin"), size);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();

    const ActionRun run = runAction(RUN_ACTION_MIDDLE, path);

    QCOMPARE(run.exitCode, 0);
    verifyFrame(run, { "encode data...", "write encoded data...", "middle action done" }, false);
    const QList<PluginJournalEntry> calls = pluginJournal->entries();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].name, "PLAINTEXT");
    QCOMPARE(calls[0].data, data);
    QCOMPARE(calls[1].call, "doMiddleEncrypt");
    QCOMPARE(calls[1].size, size);
    const QList<QJsonObject> writes = bench->journalCalls(QStringLiteral("ZV_WriteProofData"));
    QCOMPARE(writes.size(), 1);
    QCOMPARE(writes[0].value("args").toObject().value("length").toInt(), size);
    QCOMPARE(bench->written("b1", ZvSim::proofDataTarget()), testPluginOutput(data, size));
}

void TestActions::highWritesTheKeyUnderItsIndex_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("keyIndex");
    QTest::newRow("16 bytes at 0") << 16 << 0;
    QTest::newRow("24 bytes at 2") << 24 << 2;
    QTest::newRow("32 bytes at 3") << 32 << 3;
}

void TestActions::highWritesTheKeyUnderItsIndex()
{
    QFETCH(int, size);
    QFETCH(int, keyIndex);
    const QString path = writeFile(QStringLiteral("oem.key"), size);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray key = file.readAll();

    const ActionRun run = runAction(RUN_ACTION_HIGH, QString(), path, quint8(keyIndex));

    QCOMPARE(run.exitCode, 0);
    verifyFrame(run, { "write oem key...", "high action done" }, false);
    QVERIFY(pluginJournal->entries().isEmpty());
    const QList<QJsonObject> writes = bench->journalCalls(QStringLiteral("ZV_WriteProofKey"));
    QCOMPARE(writes.size(), 1);
    const QJsonObject args = writes[0].value("args").toObject();
    QCOMPARE(args.value("length").toInt(), size);
    QCOMPARE(args.value("keyIndex").toInt(), keyIndex);
    QCOMPARE(bench->written("b1", ZvSim::proofKeyTarget(keyIndex)), key);
}

void TestActions::failureEndsTheRun_data()
{
    QTest::addColumn<int>("level");
    // A bench call made to fail, KORVANE_TEST_FAIL_ENCRYPT, and the level's file:
    // empty for none, "missing", "directory", or a size in bytes.
    QTest::addColumn<QString>("failCall");
    QTest::addColumn<QString>("failEncrypt");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QStringList>("pluginCalls");
    QTest::addColumn<QStringList>("deviceCalls");

    const QStringList basicEncrypt { "addBufferParam", "doBasicEncrypt" };
    const QStringList middleEncrypt { "addBufferParam", "doMiddleEncrypt" };
    QTest::newRow("basic write fails")
        << 1 << "ZV_WriteVendorRpmbData"
        << ""
        << "" << -1
        << QStringList { "read cpuid...", "encode cpuid...", "write cpuid...", "write cpuid...fail" }
        << "failed to write cpuid" << basicEncrypt
        << QStringList { "ZV_ReadOtpData", "ZV_WriteVendorRpmbData" };
    QTest::newRow("basic encryption fails")
        << 1 << ""
        << "basic"
        << "32" << -2 << QStringList { "read cpuid...", "encode cpuid...", "encode cpuid...fail" }
        << "failed to encode cpuid" << QStringList { "addBufferParam", "addBufferParam", "doBasicEncrypt" }
        << QStringList { "ZV_ReadOtpData" };
    QTest::newRow("otp read fails") << 1 << "ZV_ReadOtpData"
                                    << ""
                                    << "" << -4 << QStringList { "read cpuid...", "read cpuid...fail" }
                                    << "failed to read cpuid" << QStringList()
                                    << QStringList { "ZV_ReadOtpData" };
    for (const char *file : { "missing", "directory", "31" })
        QTest::addRow("basic key file %s", file)
            << 1 << ""
            << "" << file << -8 << QStringList { "read key file...fail" } << "failed to read key file"
            << QStringList() << QStringList();

    QTest::newRow("proof data write fails")
        << 2 << "ZV_WriteProofData"
        << ""
        << "100" << -5
        << QStringList { "encode data...", "write encoded data...", "write encoded data...fail" }
        << "failed to write encoded data" << middleEncrypt << QStringList { "ZV_WriteProofData" };
    QTest::newRow("middle encryption fails")
        << 2 << ""
        << "middle"
        << "100" << -6 << QStringList { "encode data...", "encode data...fail" } << "failed to encrypt data"
        << middleEncrypt << QStringList();
    for (const char *file : { "missing", "directory" })
        QTest::addRow("data file %s", file) << 2 << ""
                                            << "" << file << -9 << QStringList { "read data file...fail" }
                                            << "failed to read data file" << QStringList() << QStringList();
    QTest::newRow("data file too long") << 2 << ""
                                        << ""
                                        << "65536" << -10 << QStringList { "read data file...fail" }
                                        << "invalid data size,size= 65536" << QStringList() << QStringList();

    QTest::newRow("proof key write fails")
        << 3 << "ZV_WriteProofKey"
        << ""
        << "24" << -7 << QStringList { "write oem key...", "write oem key...fail" }
        << "failed to write oem key" << QStringList() << QStringList { "ZV_WriteProofKey" };
    for (const char *file : { "missing", "directory", "20", "0" })
        QTest::addRow("oem key file %s", file) << 3 << ""
                                               << "" << file << -8 << QStringList { "read key file...fail" }
                                               << "failed to read key file" << QStringList() << QStringList();

    for (int level : { 0, 4 })
        QTest::addRow("level %d", level)
            << level << ""
            << ""
            << "" << -255 << QStringList { "invalid action" }
            << QStringLiteral("invalid action: %1").arg(level) << QStringList() << QStringList();
}

void TestActions::failureEndsTheRun()
{
    QFETCH(int, level);
    QFETCH(QString, failCall);
    QFETCH(QString, failEncrypt);
    QFETCH(QString, file);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QString, logLine);
    QFETCH(QStringList, pluginCalls);
    QFETCH(QStringList, deviceCalls);

    if (!failCall.isEmpty())
        bench->failCall(QStringLiteral("b1"), failCall);
    if (!failEncrypt.isEmpty())
        qputenv("KORVANE_TEST_FAIL_ENCRYPT", failEncrypt.toLatin1());
    QString path;
    if (file == "missing") {
        path = env->filePath(QStringLiteral("missing.bin"));
    } else if (file == "directory") {
        path = env->filePath(QStringLiteral("folder"));
        QVERIFY(QDir().mkpath(path));
    } else if (!file.isEmpty()) {
        path = writeFile(QStringLiteral("file.bin"), file.toInt());
    }
    LogCapture log;

    const ActionRun run = level == RUN_ACTION_MIDDLE ? runAction(RunAction_T(level), path)
                                                     : runAction(RunAction_T(level), QString(), path, 1);

    QCOMPARE(run.exitCode, exitCode);
    verifyFrame(run, lines, true);
    QVERIFY2(log.lines().contains(logLine), qPrintable(log.lines().join(" | ")));
    if (level >= RUN_ACTION_BASIC && level <= RUN_ACTION_HIGH) {
        const QString name = QStringList { "basic", "middle", "high" }.at(level - 1);
        QCOMPARE(log.lines().constFirst(), name + " action in");
        QCOMPARE(log.lines().constLast(), name + " action out");
    }
    QCOMPARE(pluginJournal->calls(), pluginCalls);
    QCOMPARE(callNames(bench->journal()), deviceCalls);
    if (file == "missing")
        QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestActions)
#include "tst_actions.moc"
