#include "ZVUpgrade_DLL.h"
#include "testbench.h"
#include "testenvironment.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QStringList lines;
    QString errors;
};

// Runs the CLI against the test's bench, passed with --bench, as a script would.
Run zvsim(const TestEnvironment &environment, const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(ZVSIM_PATH),
        QStringList { QStringLiteral("--bench"), environment.benchDirectory() } + arguments);
    Run run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.lines
        = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray benchFile(const TestEnvironment &environment)
{
    QFile file(TestBench(environment.benchDirectory()).bench().benchFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestZvsim : public QObject
{
    Q_OBJECT

private slots:
    void benchSession();
    void benchWideFaults();
    void badArguments_data();
    void badArguments();
};

void TestZvsim::benchSession()
{
    TestEnvironment environment;
    TestBench bench(environment.benchDirectory());

    QCOMPARE(zvsim(environment, { "attach", "b1", "--state", "loader", "--cpuid", "0A0b0c" }).exitCode, 0);
    Run list = zvsim(environment, { "list" });
    QCOMPARE(list.exitCode, 0);
    QVERIFY(list.lines.contains("board b1 loader cpuid=0a0b0c otp=- fail=- delay=0"));

    // The library sees the board at once and what it writes shows up in the dump.
    ZV_DeviceRecord *records = nullptr;
    QCOMPARE(ZV_ScanDeviceW(&records), 1);
    QCOMPARE(records[0].bootState, ZvSim::Loader);
    uint8_t otp[ZV_OTP_LENGTH] = {};
    QCOMPARE(ZV_ReadOtpData(otp, sizeof otp, 0, 0), 1);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(otp), 4), QByteArray::fromHex("040a0b0c"));
    const QByteArray key = QByteArray::fromHex("deadbeef");
    QCOMPARE(ZV_WriteProofKey(reinterpret_cast<const uint8_t *>(key.constData()), 4, 2, 0), 1);
    QCOMPARE(ZV_WriteProofData(nullptr, 0, 0), 1);

    const Run dump = zvsim(environment, { "dump", "b1" });
    QCOMPARE(dump.exitCode, 0);
    QCOMPARE(dump.lines, (QStringList { "proof-data 0 -", "proof-key-2 4 deadbeef" }));

    const Run journal = zvsim(environment, { "journal", "--tail", "1" });
    QCOMPARE(journal.lines.size(), 1);
    const QJsonObject last = QJsonDocument::fromJson(journal.lines.first().toUtf8()).object();
    QCOMPARE(last.value("call").toString(), QStringLiteral("ZV_WriteProofData"));
    QCOMPARE(zvsim(environment, { "journal" }).lines.size(), bench.journal().size());

    QCOMPARE(zvsim(environment,
                 { "set", "b1", "--state", "maskrom", "--fail", "ZV_WriteProofKey,ZV_ReadOtpData", "--delay",
                     "5", "--otp", "c8" })
                 .exitCode,
        0);
    QVERIFY(zvsim(environment, { "list" })
                .lines.contains(
                    "board b1 maskrom cpuid=0a0b0c otp=c8 fail=ZV_WriteProofKey,ZV_ReadOtpData delay=5"));
    QCOMPARE(ZV_WriteProofKey(reinterpret_cast<const uint8_t *>(key.constData()), 4, 2, 0), 0);
    QCOMPARE(zvsim(environment, { "set", "b1", "--no-fail", "--no-otp", "--state", "9" }).exitCode, 0);
    QVERIFY(zvsim(environment, { "list" })
                .lines.contains("board b1 invalid(9) cpuid=0a0b0c otp=- fail=- delay=5"));

    // A detached board keeps what it received; reset clears the whole bench.
    QCOMPARE(zvsim(environment, { "detach", "b1" }).exitCode, 0);
    QCOMPARE(zvsim(environment, { "list" }).lines, (QStringList { "init-fail off", "scan-count off" }));
    QCOMPARE(zvsim(environment, { "dump", "b1" }).lines.size(), 2);
    QCOMPARE(zvsim(environment, { "reset" }).exitCode, 0);
    QCOMPARE(zvsim(environment, { "dump", "b1" }).exitCode, 2);
    QVERIFY(zvsim(environment, { "journal" }).lines.isEmpty());
}

void TestZvsim::benchWideFaults()
{
    TestEnvironment environment;
    QCOMPARE(zvsim(environment, { "attach", "b1" }).exitCode, 0);
    QCOMPARE(zvsim(environment, { "init-fail", "on" }).exitCode, 0);
    QCOMPARE(zvsim(environment, { "scan-count", "-1" }).exitCode, 0);
    QCOMPARE(
        zvsim(environment, { "list" }).lines.mid(0, 2), (QStringList { "init-fail on", "scan-count -1" }));

    const ZV_Settings settings = {};
    const ZV_LogSettings log = {};
    ZV_DeviceRecord *records = nullptr;
    QCOMPARE(ZV_InitializeW(settings, log, ZV_Extra {}), 0);
    QCOMPARE(ZV_ScanDeviceW(&records), -1);

    QCOMPARE(zvsim(environment, { "init-fail", "off" }).exitCode, 0);
    QCOMPARE(zvsim(environment, { "scan-count", "off" }).exitCode, 0);
    QCOMPARE(ZV_InitializeW(settings, log, ZV_Extra {}), 1);
    QCOMPARE(ZV_ScanDeviceW(&records), 1);
}

void TestZvsim::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("no command") << QStringList {} << "no command given";
    QTest::newRow("unknown command") << QStringList { "plug" } << "unknown command \"plug\"";
    QTest::newRow("missing id") << QStringList { "attach" } << "usage: zvsim attach ID";
    QTest::newRow("unknown board") << QStringList { "set", "b9", "--delay", "1" } << "unknown board b9";
    QTest::newRow("detach unknown") << QStringList { "detach", "b9" } << "unknown board b9";
    QTest::newRow("dump unknown") << QStringList { "dump", "b9" } << "unknown board b9";
    QTest::newRow("attached twice") << QStringList { "attach", "b1" } << "board b1 is already attached";
    QTest::newRow("bad id") << QStringList { "attach", "../x" } << "invalid board id";
    QTest::newRow("odd hex") << QStringList { "set", "b1", "--cpuid", "abc" } << "bad hex for --cpuid";
    QTest::newRow("not hex") << QStringList { "attach", "b2", "--otp", "zz" } << "bad hex for --otp";
    QTest::newRow("bad state") << QStringList { "set", "b1", "--state", "booting" }
                               << "bad state \"booting\"";
    QTest::newRow("bad call") << QStringList { "set", "b1", "--fail", "ZV_Format" }
                              << "unknown call \"ZV_Format\"";
    QTest::newRow("bad delay") << QStringList { "set", "b1", "--delay", "-3" } << "bad delay \"-3\"";
    QTest::newRow("foreign option") << QStringList { "detach", "b1", "--delay", "3" }
                                    << "detach does not take --delay";
    QTest::newRow("unknown option") << QStringList { "list", "--colour" } << "Unknown option 'colour'";
    QTest::newRow("init-fail value") << QStringList { "init-fail", "yes" } << "init-fail takes on or off";
    QTest::newRow("scan-count value")
        << QStringList { "scan-count", "many" } << "scan-count takes a number or off";
}

void TestZvsim::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    TestEnvironment environment;
    QCOMPARE(zvsim(environment, { "attach", "b1" }).exitCode, 0);
    const QByteArray before = benchFile(environment);

    const Run run = zvsim(environment, arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.errors.startsWith("zvsim: ") && run.errors.contains(message), qPrintable(run.errors));
    QVERIFY(run.lines.isEmpty());
    QCOMPARE(benchFile(environment), before);
}

QTEST_GUILESS_MAIN(TestZvsim)
#include "tst_zvsim.moc"
