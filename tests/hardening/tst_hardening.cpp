#include "mainwindow.h"
#include "messageboxobserver.h"
#include "pluginjournal.h"
#include "testbench.h"
#include "testenvironment.h"
#include "testplugins.h"

#include "ZVUpgrade_DLL.h"

#include <QAbstractButton>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScopeGuard>
#include <QSet>
#include <QStatusBar>
#include <QTest>
#include <QtEndian>

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
const char *const runButtons[] = { nullptr, "basicRunButton", "middleRunButton", "highRunButton" };
const char *const fileEdits[] = { nullptr, "basicKeyEdit", "middlePlainEdit", "highKeyEdit" };
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

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The plug-in built for another processor: 64-bit ARM in the ELF or PE header.
QByteArray forOtherMachine(QByteArray library)
{
#ifdef Q_OS_WIN
    const qsizetype machine = qFromLittleEndian<quint32>(library.constData() + 0x3c) + 4;
    library.replace(machine, 2, QByteArray("\x64\xaa", 2));
#else
    library.replace(18, 2, QByteArray("\xb7\0", 2));
#endif
    return library;
}

} // namespace

// Faults of the device library, the plug-in, the files and the operator, met by the whole window.
class TestHardening : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<TestBench> bench;
    std::unique_ptr<PluginJournal> plugin;
    std::unique_ptr<MessageBoxObserver> observer;
    std::unique_ptr<MainWindow> window;
    int journalAt = 0;
    int boxesRead = 0;

    template <typename Widget = QAbstractButton> Widget *widget(const char *name) const
    {
        return window->findChild<Widget *>(QLatin1String(name));
    }
    void run(int level) { widget(runButtons[level])->click(); }
    void setFile(int level, const QString &path) { widget<QLineEdit>(fileEdits[level])->setText(path); }
    bool isIdle() const
    {
        return widget<QWidget>("levelTabWidget")->isEnabled() && widget("dllButton")->isEnabled();
    }

    void open(const QByteArray &config = QJsonDocument(QJsonObject { { "DLL", pluginPath } }).toJson())
    {
        env->writeFile(QStringLiteral("config.json"), config);
        window = std::make_unique<MainWindow>();
        window->show();
        journalAt = bench->journal().size();
        plugin->clear();
        for (int level = 1; level <= 3; ++level) // 32 bytes serve every level
            setFile(level, env->writeFile(QStringLiteral("32"), pattern(32)));
    }

    // The next box's text; it must come from the window with Ok alone, informing of success.
    QString nextBox()
    {
        if (!observer->waitForMessageBoxes(boxesRead + 1))
            return QString();
        const ObservedMessageBox box = observer->messageBoxes().at(boxesRead++);
        const auto icon = box.text == ok ? QMessageBox::Information : QMessageBox::Critical;
        const bool form
            = box.parent == window.get() && box.title == "Korvane" && box.buttons == QMessageBox::Ok;
        return form && box.icon == icon ? box.text : QStringLiteral("<box of another form>");
    }

    // "a|!b": the output lines, those shown as errors marked with '!'.
    QString outputLines() const
    {
        QStringList lines;
        const auto *list = widget<QListWidget>("outputList");
        for (int i = 0; i < list->count(); ++i)
            lines.append((list->item(i)->background() == QBrush(Qt::red) ? "!" : "") + list->item(i)->text());
        return lines.join('|');
    }

    // Device library calls since journalAt, scans left out.
    QString deviceCalls() const
    {
        QStringList calls;
        for (const QJsonObject &entry : bench->journal().mid(journalAt))
            calls.append(entry.value("call").toString());
        calls.removeAll(QStringLiteral("ZV_ScanDeviceW"));
        return calls.join(' ');
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
        observer = std::make_unique<MessageBoxObserver>();
        boxesRead = 0;
        bench->attach(b1, ZvSim::Loader);
    }

    void cleanup()
    {
        if (window)
            QTRY_VERIFY(window->close());
        window.reset();
        plugin.reset(); // each puts its environment variable back
        env.reset();
        qunsetenv("KORVANE_TEST_FAIL_ENCRYPT");
    }

    void faults_data()
    {
        QTest::addColumn<int>("level");
        // fail:<call>, remove (the board), storm, encrypt:<levels>, scan:<count>, init, file:<name>
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<QString>("calls");
        const QString done[] = { "", "read cpuid...|encode cpuid...|write cpuid...|basic action done",
            "encode data...|write encoded data...|middle action done", "write oem key...|high action done" };
        const QString doneCalls[]
            = { "", "ZV_ReadOtpData ZV_WriteVendorRpmbData", "ZV_WriteProofData", "ZV_WriteProofKey" };
        const auto row = [&](int level, const QString &fault, const QString &result,
                             const QString &lines = "", const QString &calls = "") {
            QTest::addRow("level %d %s", level, qPrintable(fault))
                << level << fault << result << (result == ok ? done[level] : lines)
                << (result == ok ? doneCalls[level] : calls);
        };
        const auto failed = [](int code) { return QStringLiteral("Action failed,err=%1!").arg(code); };
        const auto failing = [&](int level, const QString &calls, int exitCode, const QString &lines) {
            row(level, "fail:" + calls.section(' ', -1), failed(exitCode), lines, calls);
            row(level, "remove", failed(exitCode), lines, calls);
        };
        failing(1, "ZV_ReadOtpData", -4, "read cpuid...|!read cpuid...fail");
        failing(1, doneCalls[1], -1, "read cpuid...|encode cpuid...|write cpuid...|!write cpuid...fail");
        failing(2, doneCalls[2], -5, "encode data...|write encoded data...|!write encoded data...fail");
        failing(3, doneCalls[3], -7, "write oem key...|!write oem key...fail");
        row(1, "encrypt:basic", failed(-2), "read cpuid...|encode cpuid...|!encode cpuid...fail",
            "ZV_ReadOtpData");
        row(2, "encrypt:middle", failed(-6), "encode data...|!encode data...fail");
        row(1, "init", ok);
        row(1, "storm", ok);
        row(1, "scan:-1", "no available device!");
        row(2, "scan:0", "action can only work on the loader device!");
        row(3, "scan:5000", "action can only work on the loader device!");
        const QString badKey = "size invalid for key file!";
        row(1, "file:directory", badKey);
        // A pipe once held the action, and the window, for good; Windows' device names would too.
        // (CON is refused as well, but Wine then keeps the test process from exiting.)
        QStringList notRegular { "file:directory", "file:pipe" };
#ifdef Q_OS_WIN
        notRegular << "file:NUL" << "file:\\\\.\\NUL";
#endif
        for (const QString &file : notRegular)
            row(2, file, failed(-9), "!read data file...fail");
        for (const int size : { 0, 32, 33 })
            row(1, QStringLiteral("file:%1").arg(size), size == 32 ? ok : badKey);
        for (const int size : { 0, 65535, 65536 })
            row(2, QStringLiteral("file:%1").arg(size), size == 65536 ? "size invalid for plain file!" : ok);
        for (const int size : { 0, 16, 17, 24, 25, 32, 33 })
            row(3, QStringLiteral("file:%1").arg(size), size == 16 || size == 24 || size == 32 ? ok : badKey);
    }

    void faults()
    {
        QFETCH(int, level);
        QFETCH(QString, fault);
        QFETCH(QString, result);
        QFETCH(QString, lines);
        QFETCH(QString, calls);
        const QString kind = fault.section(':', 0, 0), value = fault.section(':', 1);
        bench->setScanCount(kind == "scan" ? std::optional<int>(value.toInt()) : std::nullopt);
        bench->setInitializeFails(kind == "init");
        open(); // a refused initialisation is silent: a box would be the next one
        if (kind == "fail")
            bench->failCall(b1, value);
        else if (kind == "encrypt")
            qputenv("KORVANE_TEST_FAIL_ENCRYPT", value.toLatin1());
        else if (kind == "remove" || kind == "storm")
            bench->setDelay(b1, kind == "storm" ? 3000 : 1000); // long enough for changes during a call
#ifdef Q_OS_WIN
        HANDLE pipeServer = INVALID_HANDLE_VALUE;
        const auto closePipe = qScopeGuard([&] {
            if (pipeServer != INVALID_HANDLE_VALUE)
                CloseHandle(pipeServer);
        });
#endif
        if (kind == "file") {
            QString path = env->filePath(QStringLiteral("chosen"));
            bool isNumber = false;
            value.toInt(&isNumber);
            if (value == "directory") {
                QVERIFY(QDir().mkdir(path));
            } else if (value == "pipe") {
#ifdef Q_OS_WIN
                // A pipe whose server never writes: a reader would wait for good.
                path = QStringLiteral("\\\\.\\pipe\\korvane-hardening-%1").arg(GetCurrentProcessId());
                pipeServer = CreateNamedPipeW(reinterpret_cast<const wchar_t *>(path.utf16()),
                    PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
                QVERIFY(pipeServer != INVALID_HANDLE_VALUE);
#else
                QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
            } else if (isNumber) {
                env->writeFile(QStringLiteral("chosen"), pattern(value.toInt()));
            } else {
                path = value; // a device name, as typed
            }
            setFile(level, path);
        }

        run(level);
        if (kind == "remove") {
            QTRY_COMPARE(widget<QListWidget>("outputList")->count(), int(lines.count('|')));
            bench->detach(b1);
        } else if (kind == "storm") {
            // Scans of a failure, nothing, many boards and the one board, each a real change.
            const std::optional<int> counts[] = { -1, 0, 5, std::nullopt };
            QSet<QString> labelsSeen;
            int changesWhileBusy = 0;
            for (int i = 0; changesWhileBusy < 200 && observer->messageBoxes().size() == boxesRead; ++i) {
                bench->setScanCount(counts[i % 4]);
                window->deviceChangedSlot();
                labelsSeen.insert(window->statusBar()->findChild<QLabel *>()->text());
                changesWhileBusy += isIdle() ? 0 : 1;
                QCoreApplication::processEvents();
            }
            bench->setScanCount(std::nullopt);
            window->deviceChangedSlot();
            QVERIFY2(changesWhileBusy >= 200, qPrintable(QString::number(changesWhileBusy)));
            QCOMPARE(labelsSeen, (QSet<QString> { QString(), "Many devices", "One Loader device" }));
            QVERIFY(bench->journalCalls(QStringLiteral("ZV_ScanDeviceW")).size() > changesWhileBusy);
        }
        QCOMPARE(nextBox(), result);
        QCOMPARE(outputLines(), lines);
        QCOMPARE(deviceCalls(), calls);
        if (result == ok)
            verifyWritten(level, pattern(kind == "file" ? value.toInt() : 32));
        else
            QCOMPARE(bench->bench().writtenTargets(b1), QStringList());
        QVERIFY(isIdle());

        // A fresh bench and a plug-in back to normal serve the level from its own file.
        QString error;
        QVERIFY2(bench->bench().reset(&error), qPrintable(error));
        qunsetenv("KORVANE_TEST_FAIL_ENCRYPT");
        bench->attach(b1, ZvSim::Loader);
        window->deviceChangedSlot();
        setFile(level, env->filePath(QStringLiteral("32")));
        run(level);
        QCOMPARE(nextBox(), ok);
    }

    void hostileConfiguration_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("title"); // null: no plug-in loaded
        const QByteArray dll = "{\"DLL\": \"" + pluginPath.toUtf8() + "\"";
        QTest::newRow("empty") << QByteArray("") << QString();
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
        QTest::newRow("root array") << "[" + dll + "}]" << QString();
        QTest::newRow("keys of other types") << "{\"DLL\": " + dll + "}, \"APP_VERSION\": null}" << QString();
    }

    void hostileConfiguration()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, title);
        open(content);
        // A configuration the tool cannot use is no reason for a box: its defaults apply.
        QCOMPARE(window->windowTitle(), title.isNull() ? "Korvane " : title);
        run(3);
        QCOMPARE(nextBox(), title.isNull() ? QStringLiteral("Dll is not loaded!") : ok);
        QVERIFY(window->close());
        QCOMPARE(contentOf(env->filePath(QStringLiteral("config.json"))), content);
    }

    void pluginPaths()
    {
        const QString directory = env->filePath(QStringLiteral("plugin.so"));
        QVERIFY(QDir().mkdir(directory));
        open(QJsonDocument(QJsonObject { { "DLL", directory } }).toJson());
        QCOMPARE(nextBox(), QStringLiteral("Failed to load %1!").arg(directory));
        run(1);
        QCOMPARE(nextBox(), QStringLiteral("Dll is not loaded!"));

        const QString path = env->filePath(QStringLiteral("plug-ins ü 插件/korvane test ü.so"));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()) && QFile::copy(pluginPath, path));
        observer->queueFileDialogAnswer(path);
        widget("dllButton")->click();

        // Files that cannot load leave that plug-in in force, and it serves on.
        const QByteArray otherMachine = forOtherMachine(contentOf(pluginPath));
        const QPair<QString, QByteArray> candidates[]
            = { { "readme.so", "This is not a library.\n" }, { "libarm.so", otherMachine } };
        QStringList chosen;
        for (const auto &[name, content] : candidates)
            chosen << env->writeFile(name, content);
#ifdef Q_OS_UNIX
        // dlopen() of a FIFO would wait for a writer, and hold the window, for good.
        chosen << env->filePath(QStringLiteral("fifo.so"));
        QCOMPARE(mkfifo(QFile::encodeName(chosen.constLast()).constData(), 0600), 0);
#endif
        for (const QString &candidate : chosen) {
            observer->queueFileDialogAnswer(candidate);
            widget("dllButton")->click();
            QCOMPARE(nextBox(), QStringLiteral("Failed to load %1!").arg(candidate));
            run(1);
            QCOMPARE(nextBox(), ok);
        }
        QVERIFY(window->close());
        QCOMPARE(QJsonDocument::fromJson(contentOf(env->filePath("config.json")))["DLL"].toString(), path);
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
            setFile(level, chosen);
            QVERIFY(plugin->clear());
            journalAt = bench->journal().size();
            run(level);
            const QString result = nextBox();
            if (result == ok) {
                verifyWritten(level, good);
            } else {
                QVERIFY2(failures.contains(result), qPrintable(result));
                QCOMPARE(deviceCalls(), QString());
            }
            QVERIFY(isIdle());
        }
    }
};

QTEST_MAIN(TestHardening)
#include "tst_hardening.moc"
