#include "ZVUpgrade_DLL.h"
#include "clistation.h"
#include "testbench.h"
#include "testenvironment.h"

#include <QtTest>

#include <atomic>
#include <thread>

namespace {

int32_t writeVendor(const QByteArray &d, int32_t area = ZV_RPMB_VENDOR_CPUID)
{
    return ZV_WriteVendorRpmbData(
        area, 0, reinterpret_cast<const uint8_t *>(d.data()), uint16_t(d.size()), 0);
}
int32_t writeProofData(const QByteArray &d)
{
    return ZV_WriteProofData(reinterpret_cast<const uint8_t *>(d.data()), uint16_t(d.size()), 0);
}
int32_t writeProofKey(const QByteArray &d, uint8_t index)
{
    return ZV_WriteProofKey(reinterpret_cast<const uint8_t *>(d.data()), uint16_t(d.size()), index, 0);
}

// The four calls that need exactly one board, made once each in this order.
const char *const boardCalls[]
    = { "ZV_ReadOtpData", "ZV_WriteVendorRpmbData", "ZV_WriteProofData", "ZV_WriteProofKey" };

QList<int32_t> callEach()
{
    uint8_t otp[ZV_OTP_LENGTH] = {};
    return { ZV_ReadOtpData(otp, sizeof otp, 0, 0), writeVendor("rpmb"), writeProofData("data"),
        writeProofKey("key", 2) };
}

int32_t bootStateAt532(const ZV_DeviceRecord *record) // read as the tool does, by the raw offset
{
    return *reinterpret_cast<const int32_t *>(reinterpret_cast<const char *>(record) + 532);
}

CliRun zvsim(const TestEnvironment &environment, const QStringList &arguments)
{
    return runProgram(QStringLiteral(ZVSIM_PATH), QStringList { "--bench", environment.benchDirectory() } + arguments);
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void boardSelection_data();
    void boardSelection();
    void writesPersistPerTarget();
    void concurrentScanAndWrite();
    void cliSession();
    void cliBadArguments_data();
    void cliBadArguments();
};

void TestSimulator::boardSelection_data()
{
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<QString>("failing"); // a call injected to fail on the first board
    QTest::addColumn<QString>("error");

    QTest::newRow("none") << QList<int> {} << QString() << "no board attached";
    QTest::newRow("one maskrom") << QList<int> { ZvSim::Maskrom } << QString() << QString();
    QTest::newRow("two") << QList<int> { ZvSim::Maskrom, 7 } << QString() << "2 boards attached";
    for (const char *call : boardCalls)
        QTest::addRow("%s fails", call) << QList<int> { ZvSim::Loader } << call << "injected failure";
}

void TestSimulator::boardSelection()
{
    QFETCH(QList<int>, states);
    QFETCH(QString, failing);
    QFETCH(QString, error);

    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    for (int i = 0; i < states.size(); ++i)
        bench.attach(QStringLiteral("b%1").arg(i), states[i]);
    if (!failing.isEmpty())
        bench.failCall(QStringLiteral("b0"), failing);

    const QList<int32_t> results = callEach();
    const QString targets[]
        = { QString(), ZvSim::vendorRpmbTarget(21), ZvSim::proofDataTarget(), ZvSim::proofKeyTarget(2) };
    for (int call = 0; call < 4; ++call) {
        const bool affected = failing.isEmpty() || failing == QLatin1String(boardCalls[call]);
        const bool succeeds = !affected || error.isEmpty();
        QCOMPARE(results[call], succeeds ? 1 : 0);
        QCOMPARE(bench.journalCalls(boardCalls[call]).last().value("error").toString(),
            affected ? error : QString());
        for (int i = 0; i < states.size() && call > 0; ++i)
            QCOMPARE(bench.written(QStringLiteral("b%1").arg(i), targets[call]).isNull(), !succeeds);
    }
    // A board failing its calls is still found; the state is read at byte 532 across the record stride.
    ZV_DeviceRecord *records = nullptr;
    QCOMPARE(ZV_ScanDeviceW(&records), int(states.size()));
    for (int i = 0; i < states.size(); ++i)
        QCOMPARE(bootStateAt532(&records[i]), states[i]);
}

void TestSimulator::writesPersistPerTarget()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    bench.attach("b");

    QCOMPARE(writeVendor("first vendor"), 1);
    QCOMPARE(writeVendor("other area", 22), 1);
    QCOMPARE(writeProofData("long proof data"), 1);
    // Each later write replaces the earlier content entirely, also when shorter.
    QCOMPARE(writeVendor("v2"), 1);
    QCOMPARE(writeProofData(QByteArray()), 1);
    QCOMPARE(writeProofKey(QByteArray::fromHex("00ff10"), 1), 1);

    QCOMPARE(bench.written("b", ZvSim::vendorRpmbTarget(21)), QByteArray("v2"));
    QCOMPARE(bench.written("b", ZvSim::vendorRpmbTarget(22)), QByteArray("other area"));
    const QByteArray proofData = bench.written("b", ZvSim::proofDataTarget());
    QVERIFY(!proofData.isNull() && proofData.isEmpty());
    QCOMPARE(bench.written("b", ZvSim::proofKeyTarget(1)), QByteArray::fromHex("00ff10"));

    QJsonObject line = bench.journal().last();
    QVERIFY(line.take("time").isString());
    const QString thread = QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()));
    const QJsonObject args { { "length", 3 }, { "keyIndex", 1 }, { "data", "00ff10" }, { "reserved", 0 } };
    QCOMPARE(line,
        (QJsonObject { { "call", "ZV_WriteProofKey" }, { "args", args }, { "result", 1 }, { "board", "b" },
            { "thread", thread } }));
    // The library knows key indexes 0 to 3; a refused write leaves no key.
    QCOMPARE(writeProofKey(QByteArray::fromHex("0a0b"), 4), 0);
    QVERIFY(bench.written("b", ZvSim::proofKeyTarget(4)).isNull());
}

void TestSimulator::concurrentScanAndWrite()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());
    bench.attach(QStringLiteral("b"), ZvSim::Loader);
    const int rounds = 300;
    std::atomic<int> failures { 0 };

    std::thread scanner([&] {
        for (int i = 0; i < rounds; ++i) {
            ZV_DeviceRecord *records = nullptr;
            failures += ZV_ScanDeviceW(&records) != 1 || bootStateAt532(records) != ZvSim::Loader;
        }
    });
    std::thread writer([&] {
        for (int i = 0; i < rounds; ++i)
            failures += writeProofKey(QByteArray::number(i), uint8_t(i % 4)) != 1;
    });
    scanner.join();
    writer.join();
    QCOMPARE(failures.load(), 0);

    // A torn or interleaved journal line ends the run when read; a lost one changes the count.
    QCOMPARE(bench.journal().size(), 2 * rounds);
    for (int index = 0; index < 4; ++index) // each key index keeps the last write to it
        QCOMPARE(bench.written("b", ZvSim::proofKeyTarget(index)), QByteArray::number(rounds - 4 + index));
}

void TestSimulator::cliSession()
{
    TestEnvironment environment;
    QCOMPARE(zvsim(environment, { "attach", "b1", "--state", "loader", "--cpuid", "0A0b0c" }).status, 0);
    QVERIFY(
        zvsim(environment, { "list" }).out.contains("board b1 loader cpuid=0a0b0c otp=- fail=- delay=0"));

    // The library sees the board at once, and what it writes shows up in the dump.
    QCOMPARE(writeProofKey(QByteArray::fromHex("deadbeef"), 2), 1);
    QCOMPARE(zvsim(environment, { "dump", "b1" }).out, QStringList { "proof-key-2 4 deadbeef" });
    const QStringList journal = zvsim(environment, { "journal", "--tail", "1" }).out;
    QVERIFY(journal.size() == 1 && journal[0].contains("\"call\":\"ZV_WriteProofKey\""));

    const QStringList set { "set", "b1", "--state", "9", "--fail", "ZV_WriteProofKey", "--otp", "c8", "--delay",
        "5" };
    QCOMPARE(zvsim(environment, set).status, 0);
    QVERIFY(zvsim(environment, { "list" })
                .out.contains("board b1 invalid(9) cpuid=0a0b0c otp=c8 fail=ZV_WriteProofKey delay=5"));

    QCOMPARE(zvsim(environment, { "detach", "b1" }).status, 0);
    QCOMPARE(zvsim(environment, { "list" }).out, (QStringList { "init-fail off", "scan-count off" }));
    QCOMPARE(zvsim(environment, { "dump", "b1" }).out, QStringList { "proof-key-2 4 deadbeef" }); // kept
}

void TestSimulator::cliBadArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    // One row per kind of refusal: a test tool's messages are worth no more.
    QTest::newRow("unknown command") << QStringList { "plug" } << "unknown command \"plug\"";
    QTest::newRow("attached twice") << QStringList { "attach", "b1" } << "board b1 is already attached";
    QTest::newRow("a path for an id") << QStringList { "attach", "../x" } << "invalid board id";
    QTest::newRow("bad option value") << QStringList { "set", "b1", "--state", "x" } << "bad state \"x\"";
}

void TestSimulator::cliBadArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    TestEnvironment environment;
    QCOMPARE(zvsim(environment, { "attach", "b1" }).status, 0);
    const QStringList before = zvsim(environment, { "list" }).out;
    const CliRun run = zvsim(environment, arguments);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.value(0).startsWith("zvsim: ") && run.err.value(0).contains(message), qPrintable(run.err.join('\n')));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(zvsim(environment, { "list" }).out, before); // the bench is left as it was
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
