#include "ZVUpgrade_DLL.h"
#include "testbench.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <functional>

namespace {

const uint8_t *bytesOf(const QByteArray &data)
{
    return reinterpret_cast<const uint8_t *>(data.constData());
}

int32_t writeVendor(const QByteArray &data, int32_t area = ZV_RPMB_VENDOR_CPUID)
{
    return ZV_WriteVendorRpmbData(area, 0, bytesOf(data), uint16_t(data.size()), 0);
}

int32_t writeProofData(const QByteArray &data)
{
    return ZV_WriteProofData(bytesOf(data), uint16_t(data.size()), 0);
}

int32_t writeProofKey(const QByteArray &data, uint8_t keyIndex)
{
    return ZV_WriteProofKey(bytesOf(data), uint16_t(data.size()), keyIndex, 0);
}

// The four calls that need exactly one board, each with the target it leaves behind.
struct BoardCall
{
    const char *name;
    std::function<int32_t()> call;
    QString target; // empty for the read
};

QList<BoardCall> boardCalls()
{
    return {
        { "ZV_ReadOtpData",
            [] {
                uint8_t otp[ZV_OTP_LENGTH] = {};
                return ZV_ReadOtpData(otp, sizeof otp, 0, 0);
            },
            QString() },
        { "ZV_WriteVendorRpmbData", [] { return writeVendor("rpmb"); }, ZvSim::vendorRpmbTarget(21) },
        { "ZV_WriteProofData", [] { return writeProofData("data"); }, ZvSim::proofDataTarget() },
        { "ZV_WriteProofKey", [] { return writeProofKey("key", 2); }, ZvSim::proofKeyTarget(2) },
    };
}

int32_t bootStateAt532(const ZV_DeviceRecord *record)
{
    int32_t state = 0;
    std::memcpy(&state, reinterpret_cast<const char *>(record) + 532, sizeof state);
    return state;
}

} // namespace

class TestDeviceLibrary : public QObject
{
    Q_OBJECT

private slots:
    void scanRecords();
    void scanCount_data();
    void scanCount();
    void boardSelection_data();
    void boardSelection();
    void otpRead_data();
    void otpRead();
    void writesPersistPerTarget();
    void argumentChecks();
    void injectedFailures();
    void initializeJournal();
    void writeJournal();
    void unreadableBench();
    void delayDoesNotBlockScans();
    void concurrentScanAndWrite();
};

void TestDeviceLibrary::scanRecords()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    bench.attach(QStringLiteral("first"), ZvSim::Maskrom);
    bench.attach(QStringLiteral("second"), 7);

    ZV_DeviceRecord *records = nullptr;
    QCOMPARE(ZV_ScanDeviceW(&records), 2);
    QVERIFY(records);
    // Read as the tool does, through the raw byte offset, and across the record stride.
    QCOMPARE(bootStateAt532(&records[0]), ZvSim::Maskrom);
    QCOMPARE(bootStateAt532(&records[1]), 7);
    QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t *>(records[1].location)),
        QStringLiteral("bench/second"));
    QVERIFY(records[0].boardId != records[1].boardId);

    // The array stays the caller's to read until this thread scans again, whatever
    // other threads scan meanwhile.
    bench.detach(QStringLiteral("first"));
    QThread *other = QThread::create([] {
        ZV_DeviceRecord *otherRecords = nullptr;
        ZV_ScanDeviceW(&otherRecords);
    });
    other->start();
    QVERIFY(other->wait(10000));
    delete other;
    QCOMPARE(bootStateAt532(&records[1]), 7);

    QCOMPARE(ZV_ScanDeviceW(&records), 1);
    QCOMPARE(bootStateAt532(&records[0]), 7);
}

void TestDeviceLibrary::scanCount_data()
{
    QTest::addColumn<int>("boards");
    QTest::addColumn<int>("override");
    QTest::addColumn<bool>("firstHidden");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("hasRecords");

    QTest::newRow("no board") << 0 << INT_MIN << false << 0 << false;
    QTest::newRow("three boards") << 3 << INT_MIN << false << 3 << true;
    QTest::newRow("negative count") << 1 << -1 << false << -1 << true;
    QTest::newRow("count above boards") << 0 << 1 << false << 1 << true;
    QTest::newRow("board hidden from scans") << 2 << INT_MIN << true << 1 << true;
}

void TestDeviceLibrary::scanCount()
{
    QFETCH(int, boards);
    QFETCH(int, override);
    QFETCH(bool, firstHidden);
    QFETCH(int, expected);
    QFETCH(bool, hasRecords);

    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    for (int i = 0; i < boards; ++i)
        bench.attach(QStringLiteral("b%1").arg(i), ZvSim::Loader);
    if (override != INT_MIN)
        bench.setScanCount(override);
    if (firstHidden)
        bench.failCall(QStringLiteral("b0"), QStringLiteral("ZV_ScanDeviceW"));

    ZV_DeviceRecord *records = nullptr;
    QCOMPARE(ZV_ScanDeviceW(&records), expected);
    QCOMPARE(records != nullptr, hasRecords);
    if (boards == 0 && expected == 1)
        QCOMPARE(bootStateAt532(records), 0); // a staged count without a board reads as invalid
    if (firstHidden)
        QCOMPARE(bench.journalCalls(QStringLiteral("ZV_ScanDeviceW")).last().value("boards").toArray(),
            QJsonArray { QStringLiteral("b1") });
}

void TestDeviceLibrary::boardSelection_data()
{
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("error");

    QTest::newRow("none") << QList<int> {} << false << "no board attached";
    QTest::newRow("one maskrom") << QList<int> { ZvSim::Maskrom } << true << "";
    QTest::newRow("one loader") << QList<int> { ZvSim::Loader } << true << "";
    QTest::newRow("one invalid") << QList<int> { 0 } << false << "board in invalid state 0";
    QTest::newRow("two") << QList<int> { ZvSim::Loader, ZvSim::Loader } << false << "2 boards attached";
}

void TestDeviceLibrary::boardSelection()
{
    QFETCH(QList<int>, states);
    QFETCH(bool, succeeds);
    QFETCH(QString, error);

    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    for (int i = 0; i < states.size(); ++i)
        bench.attach(QStringLiteral("b%1").arg(i), states[i]);

    for (const BoardCall &call : boardCalls()) {
        QCOMPARE(call.call() != 0, succeeds);
        const QJsonObject line = bench.journalCalls(QLatin1String(call.name)).last();
        QCOMPARE(line.value("error").toString(), error);
        for (int i = 0; i < states.size() && !call.target.isEmpty(); ++i)
            QCOMPARE(bench.written(QStringLiteral("b%1").arg(i), call.target).isNull(), !succeeds);
    }
}

void TestDeviceLibrary::otpRead_data()
{
    QTest::addColumn<QByteArray>("cpuId");
    QTest::addColumn<QByteArray>("rawOtp");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray id16 = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    QTest::newRow("16-byte id") << id16 << QByteArray() << 17 << '\x11' + id16;
    QTest::newRow("short id") << QByteArray("\x01\x02\x03", 3) << QByteArray() << 17
                              << QByteArray("\x04\x01\x02\x03", 4);
    QTest::newRow("empty id") << QByteArray() << QByteArray() << 17 << QByteArray("\x01", 1);
    QTest::newRow("count 0") << id16 << QByteArray("\x00", 1) << 17 << QByteArray("\x00", 1);
    QTest::newRow("count 18") << id16 << QByteArray(18, '\x12') << 17 << QByteArray(17, '\x12');
    QTest::newRow("count 200") << id16 << QByteArray("\xc8\xaa", 2) << 17 << QByteArray("\xc8\xaa", 2);
    QTest::newRow("shorter buffer") << id16 << QByteArray() << 5 << ('\x11' + id16).left(5);
}

void TestDeviceLibrary::otpRead()
{
    QFETCH(QByteArray, cpuId);
    QFETCH(QByteArray, rawOtp);
    QFETCH(int, length);
    QFETCH(QByteArray, expected);

    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    bench.attach(QStringLiteral("b"), ZvSim::Loader, cpuId);
    if (!rawOtp.isNull())
        bench.setOtp(QStringLiteral("b"), rawOtp);

    // A guard byte beyond the given length shows that the library never writes past it.
    QByteArray buffer(32, '\0');
    buffer[length] = '\x5a';
    QCOMPARE(ZV_ReadOtpData(reinterpret_cast<uint8_t *>(buffer.data()), uint16_t(length), 0, 0), 1);
    QCOMPARE(buffer.left(expected.size()), expected);
    QVERIFY(buffer.mid(expected.size(), length - expected.size()).count('\0') == length - expected.size());
    QCOMPARE(buffer.at(length), '\x5a');
    QCOMPARE(bench.journalCalls(QStringLiteral("ZV_ReadOtpData")).last().value("otp").toString(),
        QString::fromLatin1(expected.toHex()));
}

void TestDeviceLibrary::writesPersistPerTarget()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    const QString board = QStringLiteral("b");
    bench.attach(board);

    QCOMPARE(writeVendor("first vendor"), 1);
    QCOMPARE(writeVendor("other area", 22), 1);
    QCOMPARE(writeProofData("long proof data"), 1);
    for (uint8_t index = 0; index < 4; ++index)
        QCOMPARE(writeProofKey("key" + QByteArray::number(index), index), 1);

    // Each later write replaces the earlier content entirely, also when shorter.
    QCOMPARE(writeVendor("v2"), 1);
    QCOMPARE(writeProofData(QByteArray()), 1);
    QCOMPARE(writeProofKey("K1", 1), 1);

    QCOMPARE(bench.written(board, ZvSim::vendorRpmbTarget(21)), QByteArray("v2"));
    QCOMPARE(bench.written(board, ZvSim::vendorRpmbTarget(22)), QByteArray("other area"));
    const QByteArray proofData = bench.written(board, ZvSim::proofDataTarget());
    QVERIFY(!proofData.isNull());
    QVERIFY(proofData.isEmpty());
    QCOMPARE(bench.written(board, ZvSim::proofKeyTarget(0)), QByteArray("key0"));
    QCOMPARE(bench.written(board, ZvSim::proofKeyTarget(1)), QByteArray("K1"));
    QCOMPARE(bench.written(board, ZvSim::proofKeyTarget(3)), QByteArray("key3"));

    // What a board received stays with it: another board starts empty.
    bench.detach(board);
    bench.attach(QStringLiteral("next"));
    QCOMPARE(writeProofKey("next key", 0), 1);
    QCOMPARE(bench.written(board, ZvSim::proofKeyTarget(0)), QByteArray("key0"));
    QVERIFY(bench.written(QStringLiteral("next"), ZvSim::proofDataTarget()).isNull());
}

void TestDeviceLibrary::argumentChecks()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    bench.attach(QStringLiteral("b"));
    const QByteArray data("abc");
    uint8_t otp[ZV_OTP_LENGTH] = {};

    QCOMPARE(ZV_WriteProofKey(bytesOf(data), 3, 4, 0), 0);
    QCOMPARE(ZV_WriteVendorRpmbData(21, 1, bytesOf(data), 3, 0), 0);
    QCOMPARE(ZV_WriteProofData(bytesOf(data), 3, 1), 0);
    QCOMPARE(ZV_WriteProofData(nullptr, 3, 0), 0);
    QCOMPARE(ZV_ReadOtpData(otp, sizeof otp, 0, 9), 0);
    QCOMPARE(ZV_ReadOtpData(nullptr, 17, 0, 0), 0);
    QCOMPARE(ZV_ScanDeviceW(nullptr), -1);

    QCOMPARE(bench.bench().writtenTargets(QStringLiteral("b")), QStringList());
    const QList<QJsonObject> lines = bench.journal();
    QCOMPARE(lines.size(), 7);
    for (const QJsonObject &line : lines)
        QVERIFY2(!line.value("error").toString().isEmpty(), qPrintable(line.value("call").toString()));
}

void TestDeviceLibrary::injectedFailures()
{
    for (const BoardCall &failing : boardCalls()) {
        TestEnvironment environment;
        TestBench bench(environment.benchDirectory());
        bench.attach(QStringLiteral("b"));
        bench.failCall(QStringLiteral("b"), QLatin1String(failing.name));

        for (const BoardCall &call : boardCalls()) {
            const bool fails = QLatin1String(call.name) == QLatin1String(failing.name);
            QCOMPARE(call.call(), fails ? 0 : 1);
            if (!call.target.isEmpty())
                QCOMPARE(bench.written(QStringLiteral("b"), call.target).isNull(), fails);
        }
        const QJsonObject line = bench.journalCalls(QLatin1String(failing.name)).last();
        QCOMPARE(line.value("result").toInt(-1), 0);
        QCOMPARE(line.value("error").toString(), QStringLiteral("injected failure"));
        QCOMPARE(line.value("board").toString(), QStringLiteral("b"));
        ZV_DeviceRecord *records = nullptr;
        QCOMPARE(ZV_ScanDeviceW(&records), 1);
    }
}

void TestDeviceLibrary::initializeJournal()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    ZV_Settings settings = {};
    settings.transferRetries = 10;
    settings.transferTimeoutSeconds = 30;
    const QString logDirectory = environment.filePath(QStringLiteral("log \u65e5\u5fd7"));
    const ZV_LogSettings withLog { 1, reinterpret_cast<const uint16_t *>(logDirectory.utf16()) };
    const ZV_LogSettings withoutLog { 0, reinterpret_cast<const uint16_t *>(logDirectory.utf16()) };

    QCOMPARE(ZV_InitializeW(settings, withLog, ZV_Extra {}), 1);
    bench.setInitializeFails(true);
    QCOMPARE(ZV_InitializeW(settings, withoutLog, ZV_Extra {}), 0);
    QCOMPARE(ZV_Uninitialize(), 1);

    const QList<QJsonObject> lines = bench.journalCalls(QStringLiteral("ZV_InitializeW"));
    QCOMPARE(lines.size(), 2);
    const QJsonObject args = lines[0].value("args").toObject();
    QCOMPARE(args.value("settings").toArray(), (QJsonArray { 0, 0, 0, 0, 0, 0, 10, 30, 0 }));
    QCOMPARE(args.value("logEnabled").toInt(), 1);
    QCOMPARE(args.value("logDirectory").toString(), logDirectory);
    QCOMPARE(args.value("extra").toString(), QString(32, QLatin1Char('0')));
    QCOMPARE(lines[1].value("result").toInt(-1), 0);
    QVERIFY(lines[1].value("args").toObject().value("logDirectory").isNull());
    QCOMPARE(bench.journalCalls(QStringLiteral("ZV_Uninitialize")).size(), 1);
}

void TestDeviceLibrary::writeJournal()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    bench.attach(QStringLiteral("b"));
    QCOMPARE(writeProofKey(QByteArray::fromHex("00ff10"), 3), 1);
    QCOMPARE(writeVendor(QByteArray::fromHex("abcd")), 1);

    const QList<QJsonObject> lines = bench.journal();
    QCOMPARE(lines.size(), 2);
    const QJsonObject key = lines[0];
    QCOMPARE(key.value("call").toString(), QStringLiteral("ZV_WriteProofKey"));
    QCOMPARE(key.value("args").toObject(),
        (QJsonObject { { "length", 3 }, { "keyIndex", 3 }, { "data", "00ff10" }, { "reserved", 0 } }));
    QCOMPARE(key.value("result").toInt(), 1);
    QCOMPARE(key.value("board").toString(), QStringLiteral("b"));
    QCOMPARE(key.value("thread").toString(),
        QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId())));
    QVERIFY(!key.contains("error"));
    QCOMPARE(lines[1].value("args").toObject(),
        (QJsonObject {
            { "area", 21 }, { "offset", 0 }, { "length", 2 }, { "data", "abcd" }, { "reserved", 0 } }));
}

void TestDeviceLibrary::unreadableBench()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    QFile file(bench.bench().benchFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{\"boards\": [{\"id\": \"b\", \"cpuId\": \"not hex\"}]}");
    file.close();

    ZV_DeviceRecord *records = nullptr;
    QCOMPARE(ZV_ScanDeviceW(&records), 0);
    QCOMPARE(writeProofData("x"), 0);
    const QJsonObject line = bench.journalCalls(QStringLiteral("ZV_WriteProofData")).last();
    QCOMPARE(line.value("benchError").toString(), QStringLiteral("board b: invalid cpuId"));

    // Without a bench directory there is no journal either, and still no crash.
    qputenv("ZVSIM_BENCH", environment.filePath(QStringLiteral("missing")).toLocal8Bit());
    QCOMPARE(ZV_ScanDeviceW(&records), 0);
    QVERIFY(!QFile::exists(environment.filePath(QStringLiteral("missing"))));
}

void TestDeviceLibrary::delayDoesNotBlockScans()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    bench.attach(QStringLiteral("slow"));
    const int delayMs = 600;
    bench.setDelay(QStringLiteral("slow"), delayMs);

    std::atomic<bool> writing { true };
    std::atomic<qint64> writeMs { -1 };
    QThread *writer = QThread::create([&] {
        QElapsedTimer timer;
        timer.start();
        writeProofData("slow write");
        writeMs = timer.elapsed();
        writing = false;
    });
    writer->start();
    // Scans completed while the write was still in the library: had the write held the
    // bench lock through its delay, at most the few before it took the lock would count.
    int scansDuringWrite = 0;
    int wrongScans = 0;
    while (writing) {
        ZV_DeviceRecord *records = nullptr;
        if (ZV_ScanDeviceW(&records) != 1)
            ++wrongScans;
        if (writing)
            ++scansDuringWrite;
    }
    QVERIFY(writer->wait());
    delete writer;

    QCOMPARE(wrongScans, 0);
    QVERIFY(writeMs >= delayMs);
    QVERIFY2(scansDuringWrite > 10, qPrintable(QString::number(scansDuringWrite)));
    QCOMPARE(bench.written(QStringLiteral("slow"), ZvSim::proofDataTarget()), QByteArray("slow write"));
}

void TestDeviceLibrary::concurrentScanAndWrite()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    bench.attach(QStringLiteral("b"), ZvSim::Loader);
    const int iterations = 300;

    std::atomic<int> badScans { 0 };
    std::atomic<int> failedWrites { 0 };
    QString scannerThread;
    QString writerThread;
    const auto currentThread
        = [] { return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId())); };
    QThread *scanner = QThread::create([&] {
        scannerThread = currentThread();
        for (int i = 0; i < iterations; ++i) {
            ZV_DeviceRecord *records = nullptr;
            if (ZV_ScanDeviceW(&records) != 1 || bootStateAt532(records) != ZvSim::Loader)
                ++badScans;
        }
    });
    QThread *writer = QThread::create([&] {
        writerThread = currentThread();
        for (int i = 0; i < iterations; ++i) {
            if (writeProofKey(QByteArray::number(i), uint8_t(i % 4)) != 1)
                ++failedWrites;
        }
    });
    scanner->start();
    writer->start();
    QVERIFY(scanner->wait());
    QVERIFY(writer->wait());
    delete scanner;
    delete writer;
    QCOMPARE(badScans.load(), 0);
    QCOMPARE(failedWrites.load(), 0);

    // Parse every journal line by hand: a torn or interleaved line must show up here.
    QFile journal(bench.bench().journalFilePath());
    QVERIFY(journal.open(QIODevice::ReadOnly));
    QMap<QString, int> calls;
    int lineCount = 0;
    while (!journal.atEnd()) {
        const QByteArray line = journal.readLine();
        QVERIFY(line.endsWith('\n'));
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        QVERIFY2(document.isObject(), qPrintable(error.errorString()));
        const QString call = document.object().value("call").toString();
        ++calls[call];
        QCOMPARE(document.object().value("thread").toString(),
            call == QLatin1String("ZV_ScanDeviceW") ? scannerThread : writerThread);
        ++lineCount;
    }
    QCOMPARE(lineCount, 2 * iterations);
    QCOMPARE(calls.value(QStringLiteral("ZV_ScanDeviceW")), iterations);
    QCOMPARE(calls.value(QStringLiteral("ZV_WriteProofKey")), iterations);
    QCOMPARE(
        bench.written(QStringLiteral("b"), ZvSim::proofKeyTarget(3)), QByteArray::number(iterations - 1));
}

QTEST_GUILESS_MAIN(TestDeviceLibrary)
#include "tst_devicelibrary.moc"
