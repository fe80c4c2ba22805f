#include "testplugins.h"
#include "windowtestcase.h"

#include "ZVUpgrade_DLL.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QScopeGuard>
#include <QSet>
#include <QStatusBar>
#include <QTest>

#include <atomic>
#include <filesystem>
#include <thread>

namespace {

const QString b1 = QStringLiteral("b1");
const QString ok = QStringLiteral("Action ok.");
const QString pluginPath = QString::fromUtf8(TestPlugins::recordingPlugin);
const QString targets[] = { QString(), ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID),
    ZvSim::proofDataTarget(), ZvSim::proofKeyTarget(0) };

// Bytes that differ from one to the next, so a shifted or cut copy shows.
QByteArray pattern(int size, char seed = 0)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + 0x21 + i % 89);
    return bytes;
}

} // namespace

// Faults of the device library, the files and the configuration that only the whole window meets.
class TestHardening : public WindowTestCase
{
    Q_OBJECT

    int journalAt = 0;

    void open(const QByteArray &config = QJsonDocument(QJsonObject { { "DLL", pluginPath } }).toJson())
    {
        bench->attach(b1, ZvSim::Loader);
        env->writeFile(QStringLiteral("config.json"), config);
        driver->open();
        journalAt = bench->journal().size();
        pluginJournal->clear();
        for (int level = 1; level <= 3; ++level) // 32 bytes serve every level
            driver->setFile(level, env->writeFile(QStringLiteral("32"), pattern(32)));
    }

    void verifyWritten(int level, const QByteArray &content)
    {
        if (level == 1)
            QCOMPARE(pluginJournal->entries().at(1).data, content);
        const QByteArray plain = level == 1 ? bench->cpuId(b1) : content;
        QCOMPARE(bench->written(b1, targets[level]),
            level == 3 ? content : testPluginOutput(plain, level == 1 ? 16 : plain.size()));
    }

private slots:
    // Scans of a failure, nothing, many boards and the one board, each a real change, while
    // a slow action runs; on a library that refused its initialisation, which the window
    // goes on without.
    void deviceStormWhileBusy()
    {
        bench->setInitializeFails(true);
        open(); // a refused initialisation is silent: a box would be the next one
        bench->setDelay(b1, 3000);
        driver->run(1);
        const std::optional<int> counts[] = { -1, 0, 5, std::nullopt };
        QSet<QString> labelsSeen;
        int changesWhileBusy = 0;
        for (int i = 0;
             changesWhileBusy < 200 && driver->observer().messageBoxes().size() == driver->boxesRead(); ++i) {
            bench->setScanCount(counts[i % 4]);
            driver->window()->deviceChangedSlot();
            labelsSeen.insert(driver->window()->statusBar()->findChild<QLabel *>()->text());
            changesWhileBusy += driver->isIdle() ? 0 : 1;
            QCoreApplication::processEvents();
        }
        bench->setScanCount(std::nullopt);
        driver->window()->deviceChangedSlot();
        QVERIFY2(changesWhileBusy >= 200, qPrintable(QString::number(changesWhileBusy)));
        QCOMPARE(labelsSeen, (QSet<QString> { QString(), "Many devices", "One Loader device" }));
        QVERIFY(bench->journalCalls(QStringLiteral("ZV_ScanDeviceW")).size() > changesWhileBusy);
        QCOMPARE(driver->nextResult(), ok);
        QCOMPARE(driver->outputLines(), actionLines(doneLines(1), false));
        QCOMPARE(bench->callsSince(journalAt), QStringList({ "ZV_ReadOtpData", "ZV_WriteVendorRpmbData" }));
        verifyWritten(1, pattern(32));
        QVERIFY(driver->isIdle());
    }

    void hostileConfiguration_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("title"); // null: no plug-in loaded
        const QByteArray dll = "{\"DLL\": \"" + pluginPath.toUtf8() + "\"";
        QTest::newRow("not UTF-8") << dll + ", \"APP_VERSION\": \"caf\xe9 \xff\"}"
                                   << QStringLiteral("Korvane caf\ufffd \ufffd");
        // The most a configuration may take (a byte more is korvane-cli's test), saved on Windows
        // with a byte order mark and CRLF.
        const QByteArray head = "\xef\xbb\xbf" + dll + ",\r\n", tail = "\"APP_VERSION\": \"2\"}\r\n";
        QTest::newRow("1 MiB, saved on Windows")
            << head + QByteArray((1 << 20) - head.size() - tail.size(), ' ') + tail << "Korvane 2";
        QTest::newRow("nested 100000 deep")
            << QByteArray("{\"DLL\":").repeated(100000) + "1" + QByteArray("}").repeated(100000) << QString();
    }

    void hostileConfiguration()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, title);
        open(content);
        // A configuration the tool cannot use is no reason for a box: its defaults apply.
        QCOMPARE(driver->window()->windowTitle(), title.isNull() ? "Korvane " : title);
        driver->run(3);
        QCOMPARE(driver->nextResult(), title.isNull() ? QStringLiteral("Dll is not loaded!") : ok);
    }

    void fileSwappedBetweenClickAndRun()
    {
        open();
        // Every level takes 32 bytes and none 70000.
        const QByteArray good = pattern(32, 'g'), bad = pattern(70000, 'b');
        const QString chosen = env->writeFile(QStringLiteral("chosen"), good);
        // Each swap replaces the whole file at once, as an editor that saves safely does.
        std::atomic<bool> swapping { true };
        std::thread swapper([&] {
            for (int i = 1; swapping; ++i) {
                const QString next = env->writeFile("next", i % 2 ? bad : good);
                // Replaces an existing file on Windows too; refused there while the tool reads it.
                std::error_code refused;
                std::filesystem::rename(
                    std::filesystem::u8path(next.toStdString()), std::filesystem::u8path(chosen.toStdString()), refused);
            }
        });
        const auto stop = qScopeGuard([&] {
            swapping = false;
            swapper.join();
        });

        const QStringList failures { "size invalid for key file!", "size invalid for plain file!",
            "Action failed,err=-8!", "Action failed,err=-9!", "Action failed,err=-10!" };
        for (int i = 0; i < 45; ++i) {
            const int level = 1 + i % 3;
            driver->setFile(level, chosen);
            QVERIFY(pluginJournal->clear());
            journalAt = bench->journal().size();
            driver->run(level);
            const QString result = driver->nextResult();
            if (result == ok) {
                verifyWritten(level, good);
            } else {
                QVERIFY2(failures.contains(result), qPrintable(result));
                QCOMPARE(bench->callsSince(journalAt), QStringList());
            }
            QVERIFY(driver->isIdle());
        }
    }
};

QTEST_MAIN(TestHardening)
#include "tst_hardening.moc"
