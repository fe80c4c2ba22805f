#include "pluginjournal.h"
#include "testbench.h"
#include "testenvironment.h"
#include "testplugins.h"
#include "windowdriver.h"

#include "ZVUpgrade_DLL.h"

#include <QAbstractButton>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QScopeGuard>
#include <QSet>
#include <QStatusBar>
#include <QTest>

#include <atomic>
#include <filesystem>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

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

// What goes wrong around an action; the procedures' own failures are tests/actions'.
enum Fault { BoardRemoved, DeviceStorm, InitializeRefused, ScanCount, Directory, Pipe, DeviceName };

} // namespace

// Faults of the device library, the plug-in, the files and the operator, met by the whole window.
class TestHardening : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<TestBench> bench;
    std::unique_ptr<PluginJournal> plugin;
    std::unique_ptr<WindowDriver> driver;
    int journalAt = 0;

    void open(const QByteArray &config = QJsonDocument(QJsonObject { { "DLL", pluginPath } }).toJson())
    {
        env->writeFile(QStringLiteral("config.json"), config);
        driver->open();
        journalAt = bench->journal().size();
        plugin->clear();
        for (int level = 1; level <= 3; ++level) // 32 bytes serve every level
            driver->setFile(level, env->writeFile(QStringLiteral("32"), pattern(32)));
    }

    // Device library calls since journalAt, scans left out.
    QStringList deviceCalls() const
    {
        QStringList calls;
        for (const QJsonObject &entry : bench->journal().mid(journalAt))
            calls.append(entry.value("call").toString());
        calls.removeAll(QStringLiteral("ZV_ScanDeviceW"));
        return calls;
    }

    void verifyWritten(int level, const QByteArray &content)
    {
        if (level == 1)
            QCOMPARE(plugin->entries().at(1).data, content);
        const QByteArray plain = level == 1 ? bench->cpuId(b1) : content;
        QCOMPARE(bench->written(b1, targets[level]),
            level == 3 ? content : testPluginOutput(plain, level == 1 ? 16 : plain.size()));
    }

private slots:
    void init()
    {
        env = std::make_unique<TestEnvironment>();
        QVERIFY(env->isValid());
        bench = std::make_unique<TestBench>(env->benchDirectory());
        plugin = std::make_unique<PluginJournal>(env->filePath(QStringLiteral("plugin.jsonl")));
        driver = std::make_unique<WindowDriver>();
        bench->attach(b1, ZvSim::Loader);
    }

    void cleanup()
    {
        QVERIFY(driver->close());
        driver.reset();
        plugin.reset(); // each puts its environment variable back
        env.reset();
    }

    void faults_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("detail"); // the scan's count, or the device name typed as the file
        QTest::addColumn<QString>("result");
        QTest::addColumn<OutputLines>("lines");
        QTest::addColumn<QStringList>("calls");
        const auto failed = [](int code) { return QStringLiteral("Action failed,err=%1!").arg(code); };
        const auto row = [](const char *name, int level, Fault fault, const QString &result,
                             const OutputLines &lines = {}, const QStringList &calls = {}, const QString &detail = {}) {
            QTest::addRow("level %d %s", level, name) << level << int(fault) << detail << result
                                                      << (result == ok ? actionLines(doneLines(level), false) : lines)
                                                      << calls;
        };
        // The board goes during the call that then fails.
        row("removed while reading", 1, BoardRemoved, failed(-4), actionLines({ "read cpuid...", "read cpuid...fail" }, true),
            { "ZV_ReadOtpData" });
        row("removed while writing", 1, BoardRemoved, failed(-1),
            actionLines(doneLines(1).mid(0, 3) << "write cpuid...fail", true),
            { "ZV_ReadOtpData", "ZV_WriteVendorRpmbData" });
        row("removed", 2, BoardRemoved, failed(-5),
            actionLines(doneLines(2).mid(0, 2) << "write encoded data...fail", true), { "ZV_WriteProofData" });
        row("removed", 3, BoardRemoved, failed(-7), actionLines({ "write oem key...", "write oem key...fail" }, true),
            { "ZV_WriteProofKey" });
        row("initialisation refused", 1, InitializeRefused, ok, {}, { "ZV_ReadOtpData", "ZV_WriteVendorRpmbData" });
        row("device storm", 1, DeviceStorm, ok, {}, { "ZV_ReadOtpData", "ZV_WriteVendorRpmbData" });
        row("scan fails", 1, ScanCount, "no available device!", {}, {}, "-1");
        row("no board", 2, ScanCount, "action can only work on the loader device!", {}, {}, "0");
        row("5000 boards", 3, ScanCount, "action can only work on the loader device!", {}, {}, "5000");
        row("directory", 1, Directory, "size invalid for key file!");
        // A pipe once held the action, and the window, for good; Windows' device names would too.
        // (CON is refused as well, but Wine then keeps the test process from exiting.)
        const OutputLines unreadable = actionLines({ "read data file...fail" }, true);
        row("directory", 2, Directory, failed(-9), unreadable);
        row("pipe", 2, Pipe, failed(-9), unreadable);
#ifdef Q_OS_WIN
        for (const char *name : { "NUL", "\\\\.\\NUL" })
            row(name, 2, DeviceName, failed(-9), unreadable, {}, name);
#endif
    }

    void faults()
    {
        QFETCH(int, level);
        QFETCH(int, fault);
        QFETCH(QString, detail);
        QFETCH(QString, result);
        QFETCH(OutputLines, lines);
        QFETCH(QStringList, calls);
        bench->setScanCount(fault == ScanCount ? std::optional<int>(detail.toInt()) : std::nullopt);
        bench->setInitializeFails(fault == InitializeRefused);
        open(); // a refused initialisation is silent: a box would be the next one
        if (fault == BoardRemoved || fault == DeviceStorm)
            bench->setDelay(b1, fault == DeviceStorm ? 3000 : 1000); // long enough for changes during a call
#ifdef Q_OS_WIN
        HANDLE pipeServer = INVALID_HANDLE_VALUE;
        const auto closePipe = qScopeGuard([&] {
            if (pipeServer != INVALID_HANDLE_VALUE)
                CloseHandle(pipeServer);
        });
#endif
        if (fault == Directory || fault == Pipe || fault == DeviceName) {
            QString path = env->filePath(QStringLiteral("chosen"));
            if (fault == Directory) {
                QVERIFY(QDir().mkdir(path));
            } else if (fault == Pipe) {
#ifdef Q_OS_WIN
                // A pipe whose server never writes: a reader would wait for good.
                path = QStringLiteral("\\\\.\\pipe\\korvane-hardening-%1").arg(GetCurrentProcessId());
                pipeServer = CreateNamedPipeW(reinterpret_cast<const wchar_t *>(path.utf16()),
                    PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
                QVERIFY(pipeServer != INVALID_HANDLE_VALUE);
#else
                QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
            } else {
                path = detail; // a device name, as typed
            }
            driver->setFile(level, path);
        }

        driver->run(level);
        if (fault == BoardRemoved) {
            QTRY_COMPARE(driver->widget<QListWidget>("outputList")->count(), int(lines.size() - 1));
            bench->detach(b1);
        } else if (fault == DeviceStorm) {
            // Scans of a failure, nothing, many boards and the one board, each a real change.
            const std::optional<int> counts[] = { -1, 0, 5, std::nullopt };
            QSet<QString> labelsSeen;
            int changesWhileBusy = 0;
            for (int i = 0; changesWhileBusy < 200 && driver->observer().messageBoxes().size() == driver->boxesRead(); ++i) {
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
        }
        QCOMPARE(driver->nextResult(), result);
        QCOMPARE(driver->outputLines(), lines);
        QCOMPARE(deviceCalls(), calls);
        if (result == ok)
            verifyWritten(level, pattern(32));
        else
            QCOMPARE(bench->bench().writtenTargets(b1), QStringList());
        QVERIFY(driver->isIdle());

        // A fresh bench and a plug-in back to normal serve the level from its own file.
        QString error;
        QVERIFY2(bench->bench().reset(&error), qPrintable(error));
        bench->attach(b1, ZvSim::Loader);
        driver->window()->deviceChangedSlot();
        driver->setFile(level, env->filePath(QStringLiteral("32")));
        driver->run(level);
        QCOMPARE(driver->nextResult(), ok);
    }

    void hostileConfiguration_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("title"); // null: no plug-in loaded
        const QByteArray dll = "{\"DLL\": \"" + pluginPath.toUtf8() + "\"";
        QTest::newRow("binary") << QByteArray::fromHex("00ff7b2280fe0a5bc328") << QString();
        QTest::newRow("not UTF-8") << dll + ", \"APP_VERSION\": \"caf\xe9 \xff\"}"
                                   << QStringLiteral("Korvane caf\ufffd \ufffd");
        // The most a configuration may take, saved on Windows with a byte order mark and CRLF.
        const QByteArray head = "\xef\xbb\xbf" + dll + ",\r\n", tail = "\"APP_VERSION\": \"2\"}\r\n";
        const QByteArray mebibyte = head + QByteArray((1 << 20) - head.size() - tail.size(), ' ') + tail;
        QTest::newRow("1 MiB, saved on Windows") << mebibyte << "Korvane 2";
        QTest::newRow("1 MiB and a byte") << QByteArray(mebibyte).insert(head.size(), ' ') << QString();
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
        QVERIFY(driver->window()->close());
        QCOMPARE(readFile(env->filePath(QStringLiteral("config.json"))), content);
    }

    void pluginPaths()
    {
        const QString directory = env->filePath(QStringLiteral("plugin.so"));
        QVERIFY(QDir().mkdir(directory));
        open(QJsonDocument(QJsonObject { { "DLL", directory } }).toJson());
        QCOMPARE(driver->nextResult(), QStringLiteral("Failed to load %1!").arg(directory));
        driver->run(1);
        QCOMPARE(driver->nextResult(), QStringLiteral("Dll is not loaded!"));

        const QString path = env->filePath(QStringLiteral("plug-ins ü 插件/korvane test ü.so"));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()) && QFile::copy(pluginPath, path));
        driver->observer().queueFileDialogAnswer(path);
        driver->widget<QAbstractButton>("dllButton")->click();

        // Loaded from there, kept for the next start. (Files that do not load are the loader's tests.)
        driver->run(1);
        QCOMPARE(driver->nextResult(), ok);
        QVERIFY(driver->window()->close());
        QCOMPARE(QJsonDocument::fromJson(readFile(env->filePath("config.json")))["DLL"].toString(), path);
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
            QVERIFY(plugin->clear());
            journalAt = bench->journal().size();
            driver->run(level);
            const QString result = driver->nextResult();
            if (result == ok) {
                verifyWritten(level, good);
            } else {
                QVERIFY2(failures.contains(result), qPrintable(result));
                QCOMPARE(deviceCalls(), QStringList());
            }
            QVERIFY(driver->isIdle());
        }
    }
};

QTEST_MAIN(TestHardening)
#include "tst_hardening.moc"
