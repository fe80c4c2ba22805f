#include "cdeviceeventfilter.h"
#include "hardeningsupport.h"

#include "ZVUpgrade_DLL.h"

#include <QLabel>
#include <QSet>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>

#include <climits>
#include <optional>

namespace {

const QString b1 = QStringLiteral("b1");
constexpr int highKeyIndex = 2;

QString targetOf(int level)
{
    if (level == 1)
        return ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID);
    return level == 2 ? ZvSim::proofDataTarget() : ZvSim::proofKeyTarget(highKeyIndex);
}

QString resultText(int exitCode)
{
    return exitCode ? QStringLiteral("Action failed,err=%1!").arg(exitCode) : QStringLiteral("Action ok.");
}

// The lines an action shows: every step plain, a failure's last line on red.
QList<QPair<QString, bool>> expectedLines(const QStringList &texts, bool failed)
{
    QList<QPair<QString, bool>> lines;
    for (const QString &text : texts)
        lines.append({ text, failed && &text == &texts.last() });
    return lines;
}

} // namespace

// Every fault the device library and the plug-in can produce, met from the window:
// the right exit code and lines, nothing reaching the board after the failing step,
// and a window that is idle and serves the next action.
class TestFaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void failingStepEndsTheAction_data();
    void failingStepEndsTheAction();
    void scanWithoutOneUsableBoardRefusesEveryLevel_data();
    void scanWithoutOneUsableBoardRefusesEveryLevel();
    void refusedInitialisationStillServes();
    void boardRemovedDuringTheAction_data();
    void boardRemovedDuringTheAction();
    void deviceChangeStormDuringAnAction();

private:
    void openWithFiles();
    QString label() const { return fixture->window().statusBar()->findChild<QLabel *>()->text(); }
    // A fresh board in place of b1 and the plug-in back to normal; then the level runs through.
    void recoverAndRunAgain(int level);

    std::unique_ptr<WindowUnderTest> fixture;
};

void TestFaultMatrix::init()
{
    fixture = std::make_unique<WindowUnderTest>();
    QVERIFY(fixture->isValid());
}

void TestFaultMatrix::cleanup()
{
    if (fixture && fixture->isValid())
        QTRY_VERIFY(fixture->close());
    fixture.reset();
    qunsetenv("KORVANE_TEST_FAIL_ENCRYPT");
}

void TestFaultMatrix::openWithFiles()
{
    fixture->writeConfig();
    fixture->open();
    fixture->setFile(1, fixture->env().writeFile(QStringLiteral("aes.key"), patternBytes(32)));
    fixture->setFile(2, fixture->env().writeFile(QStringLiteral("data.bin"), patternBytes(100, 1)));
    fixture->setFile(3, fixture->env().writeFile(QStringLiteral("oem.key"), patternBytes(24, 2)));
    fixture->widget<QSpinBox>("highKeySpin")->setValue(highKeyIndex);
}

void TestFaultMatrix::recoverAndRunAgain(int level)
{
    qunsetenv("KORVANE_TEST_FAIL_ENCRYPT");
    TestBench &bench = fixture->bench();
    ZvSim::BenchState state;
    QString error;
    QVERIFY2(bench.bench().load(state, &error), qPrintable(error));
    if (state.board(b1))
        bench.detach(b1);
    bench.attach(QStringLiteral("b2"), ZvSim::Loader);
    fixture->window().deviceChangedSlot();
    QCOMPARE(label(), QStringLiteral("One Loader device"));
    fixture->run(level);
    QCOMPARE(fixture->nextBox(), QStringLiteral("Action ok."));
    QVERIFY(!fixture->bench().written(QStringLiteral("b2"), targetOf(level)).isNull());
    QVERIFY(fixture->isIdle());
}

void TestFaultMatrix::failingStepEndsTheAction_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("failingCall");
    QTest::addColumn<QByteArray>("otp"); // raw OTP content, when not null
    QTest::addColumn<QByteArray>("failEncrypt");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("deviceCalls");

    const QString otpRead = "ZV_ReadOtpData";
    const QString rpmbWrite = "ZV_WriteVendorRpmbData";
    const QString proofWrite = "ZV_WriteProofData";
    const QString keyWrite = "ZV_WriteProofKey";
    const QStringList readFail { "read cpuid...", "read cpuid...fail" };
    const QStringList basicDone { "read cpuid...", "encode cpuid...", "write cpuid...", "basic action done" };
    const QByteArray none;

    QTest::newRow("basic: OTP read fails") << 1 << otpRead << none << none << -4 << readFail << QStringList { otpRead };
    for (const char count : { '\x00', '\x12', '\xc8' }) {
        QTest::addRow("basic: count byte %d", int(quint8(count)))
            << 1 << QString() << QByteArray(1, count) << none << -3 << readFail << QStringList { otpRead };
    }
    QTest::newRow("basic: encryption refused")
        << 1 << QString() << none << QByteArray("basic") << -2
        << QStringList { "read cpuid...", "encode cpuid...", "encode cpuid...fail" } << QStringList { otpRead };
    QTest::newRow("basic: RPMB write fails")
        << 1 << rpmbWrite << none << none << -1
        << QStringList { "read cpuid...", "encode cpuid...", "write cpuid...", "write cpuid...fail" }
        << QStringList { otpRead, rpmbWrite };
    QTest::newRow("basic: another level's write failing is no concern")
        << 1 << keyWrite << none << QByteArray("middle") << 0 << basicDone << QStringList { otpRead, rpmbWrite };

    QTest::newRow("middle: encryption refused") << 2 << QString() << none << QByteArray("middle") << -6
                                                << QStringList { "encode data...", "encode data...fail" }
                                                << QStringList();
    QTest::newRow("middle: proof data write fails")
        << 2 << proofWrite << none << none << -5
        << QStringList { "encode data...", "write encoded data...", "write encoded data...fail" }
        << QStringList { proofWrite };

    QTest::newRow("high: proof key write fails") << 3 << keyWrite << none << none << -7
                                                 << QStringList { "write oem key...", "write oem key...fail" }
                                                 << QStringList { keyWrite };
    QTest::newRow("high: every encryption refused, no concern of High")
        << 3 << QString() << none << QByteArray("all") << 0 << QStringList { "write oem key...", "high action done" }
        << QStringList { keyWrite };
}

void TestFaultMatrix::failingStepEndsTheAction()
{
    QFETCH(int, level);
    QFETCH(QString, failingCall);
    QFETCH(QByteArray, otp);
    QFETCH(QByteArray, failEncrypt);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, deviceCalls);

    fixture->bench().attach(b1, ZvSim::Loader);
    openWithFiles();
    if (!failingCall.isEmpty())
        fixture->bench().failCall(b1, failingCall);
    if (!otp.isNull())
        fixture->bench().setOtp(b1, otp);
    if (!failEncrypt.isNull())
        qputenv("KORVANE_TEST_FAIL_ENCRYPT", failEncrypt);

    fixture->run(level);
    QCOMPARE(fixture->nextBox(), resultText(exitCode));
    QCOMPARE(fixture->lastBoxIcon(), exitCode ? QMessageBox::Critical : QMessageBox::Information);
    QCOMPARE(fixture->outputLines(), expectedLines(lines, exitCode != 0));
    QCOMPARE(fixture->deviceCalls(), deviceCalls);
    if (exitCode) {
        QCOMPARE(fixture->targetsReceived(b1), QStringList());
        // A read that failed or gave no usable id never reaches the plug-in.
        if (exitCode == -4 || exitCode == -3)
            QCOMPARE(fixture->plugin().calls(), QStringList());
    } else {
        QVERIFY(!fixture->received(b1, targetOf(level)).isNull());
    }
    QVERIFY(fixture->isIdle());

    recoverAndRunAgain(level);
}

void TestFaultMatrix::scanWithoutOneUsableBoardRefusesEveryLevel_data()
{
    QTest::addColumn<int>("boards");
    QTest::addColumn<std::optional<int>>("scanCount");
    QTest::addColumn<QString>("label");

    QTest::newRow("no board") << 0 << std::optional<int>() << QString();
    QTest::newRow("scan says 0 with a board") << 1 << std::optional<int>(0) << QString();
    QTest::newRow("scan says -1") << 1 << std::optional<int>(-1) << QString();
    QTest::newRow("scan says INT_MIN") << 1 << std::optional<int>(INT_MIN) << QString();
    QTest::newRow("scan says 1 with none attached") << 0 << std::optional<int>(1) << "One invalid device";
    QTest::newRow("64 boards") << 64 << std::optional<int>() << "Many devices";
    QTest::newRow("scan says 5000") << 1 << std::optional<int>(5000) << "Many devices";
}

void TestFaultMatrix::scanWithoutOneUsableBoardRefusesEveryLevel()
{
    QFETCH(int, boards);
    QFETCH(std::optional<int>, scanCount);
    QFETCH(QString, label);

    for (int i = 0; i < boards; ++i)
        fixture->bench().attach(QStringLiteral("b%1").arg(i + 1), ZvSim::Loader);
    fixture->bench().setScanCount(scanCount);
    openWithFiles();
    QCOMPARE(this->label(), label);

    const QString loaderOnly = QStringLiteral("action can only work on the loader device!");
    const QString expected[] = { QString(), QStringLiteral("no available device!"), loaderOnly, loaderOnly };
    for (int level = 1; level <= 3; ++level) {
        fixture->run(level);
        QCOMPARE(fixture->nextBox(), expected[level]);
    }
    QCOMPARE(fixture->deviceCalls(), QStringList());
    QVERIFY(fixture->outputLines().isEmpty());
    QVERIFY(fixture->isIdle());
}

void TestFaultMatrix::refusedInitialisationStillServes()
{
    fixture->bench().attach(b1, ZvSim::Maskrom);
    fixture->bench().setInitializeFails(true);
    openWithFiles();
    // Refused silently: no box, and the window works on.
    QCOMPARE(fixture->observer().messageBoxes().size(), 0);
    QCOMPARE(label(), QStringLiteral("One Maskrom device"));
    fixture->run(1);
    QCOMPARE(fixture->nextBox(), QStringLiteral("Action ok."));
    QCOMPARE(fixture->deviceCalls(), (QStringList { "ZV_ReadOtpData", "ZV_WriteVendorRpmbData" }));
}

void TestFaultMatrix::boardRemovedDuringTheAction_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("removedAt"); // the progress line after which the board goes
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("deviceCalls");

    QTest::newRow("basic, during the OTP read") << 1 << "read cpuid..." << -4 << QStringList { "ZV_ReadOtpData" };
    QTest::newRow("basic, during the write")
        << 1 << "write cpuid..." << -1 << QStringList { "ZV_ReadOtpData", "ZV_WriteVendorRpmbData" };
    QTest::newRow("middle, during the write") << 2 << "write encoded data..." << -5 << QStringList { "ZV_WriteProofData" };
    QTest::newRow("high, during the write") << 3 << "write oem key..." << -7 << QStringList { "ZV_WriteProofKey" };
}

void TestFaultMatrix::boardRemovedDuringTheAction()
{
    QFETCH(int, level);
    QFETCH(QString, removedAt);
    QFETCH(int, exitCode);
    QFETCH(QStringList, deviceCalls);

    fixture->bench().attach(b1, ZvSim::Loader);
    openWithFiles();
    // Each call takes long enough for the board to go while it is under way.
    fixture->bench().setDelay(b1, 700);

    fixture->run(level);
    QVERIFY(QTest::qWaitFor([&] {
        const QList<QPair<QString, bool>> lines = fixture->outputLines();
        return !lines.isEmpty() && lines.last().first == removedAt;
    }));
    fixture->bench().detach(b1);
    fixture->window().deviceChangedSlot();
    QCOMPARE(label(), QString());

    QCOMPARE(fixture->nextBox(), resultText(exitCode));
    QCOMPARE(fixture->outputLines().last(), qMakePair(removedAt + QStringLiteral("fail"), true));
    QCOMPARE(fixture->deviceCalls(), deviceCalls);
    QCOMPARE(fixture->targetsReceived(b1), QStringList());
    QVERIFY(fixture->isIdle());

    // The label the removal left refuses the next run; a board put back serves it.
    fixture->run(level);
    QCOMPARE(fixture->nextBox(),
        level == 1 ? QStringLiteral("no available device!") : QStringLiteral("action can only work on the loader device!"));
    recoverAndRunAgain(level);
}

void TestFaultMatrix::deviceChangeStormDuringAnAction()
{
    fixture->bench().attach(b1, ZvSim::Loader);
    openWithFiles();
    CDeviceEventFilter filter;
    connect(&filter, &CDeviceEventFilter::deviceChanged, &fixture->window(), &MainWindow::deviceChangedSlot);
    fixture->bench().setDelay(b1, 1000);

    // Scans that report nothing, a failure, many boards and the one board in turn,
    // each a real change of the bench, while the action's calls go on.
    const std::optional<int> counts[] = { -1, 0, 5, std::nullopt };
    QSet<QString> labelsSeen;
    int changesWhileBusy = 0;
    fixture->run(1);
    QTRY_VERIFY(!fixture->isIdle());
    for (int i = 0; fixture->observer().messageBoxes().isEmpty(); ++i) {
        fixture->bench().setScanCount(counts[i % 4]);
        emit filter.deviceChanged();
        labelsSeen.insert(label());
        if (!fixture->isIdle())
            ++changesWhileBusy;
        QCoreApplication::processEvents();
    }
    fixture->bench().setScanCount(std::nullopt);
    emit filter.deviceChanged();

    QVERIFY2(changesWhileBusy >= 200, qPrintable(QString::number(changesWhileBusy)));
    QCOMPARE(labelsSeen, (QSet<QString> { QString(), "Many devices", "One Loader device" }));
    QCOMPARE(label(), QStringLiteral("One Loader device"));
    QCOMPARE(fixture->nextBox(), QStringLiteral("Action ok."));
    QCOMPARE(fixture->deviceCalls(), (QStringList { "ZV_ReadOtpData", "ZV_WriteVendorRpmbData" }));
    QCOMPARE(fixture->received(b1, targetOf(1)), testPluginOutput(fixture->bench().cpuId(b1), 16));
    QVERIFY(fixture->bench().journalCalls(QStringLiteral("ZV_ScanDeviceW")).size() > changesWhileBusy);
    QVERIFY(fixture->isIdle());
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
