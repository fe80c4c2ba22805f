#include "clistation.h"
#include "testbench.h"
#include "testplugins.h"
#include "tracefiles.h"
#include "windowdriver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Under Wine, the build's paths lack a drive, and the program runs from another one.
QString absolute(const char *path)
{
    return QFileInfo(QString::fromUtf8(path)).absoluteFilePath();
}

QStringList withoutDurations(QStringList lines)
{
    return lines.replaceInStrings(QRegularExpression(QStringLiteral(" duration_ms=\\d+$")), QString());
}

} // namespace

// korvane-cli, each test with a copy in an application directory of its own, as on a station.
class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
        station = std::make_unique<CliStation>(absolute(KORVANE_CLI), folder->path());
        QVERIFY(station->isValid());
    }

    void refused_data();
    void refused();
    void actionOutcome_data();
    void actionOutcome();
    void status_data();
    void status();
    void waitForABoard_data();
    void waitForABoard();
    void outputClosed();
#ifdef Q_OS_UNIX
    void stopDuringStartUp();
#endif
    void stationLoop();
    void twoLoopsOnOneFolderWriteABoardOnce();
    void claimLeftByAKilledRun();

private:
    TestBench &bench() const { return station->bench(); }
    void writeConfig(const QJsonObject &config = {}) const { station->writeConfig(config); }
    CliRun run(const QStringList &arguments) const { return station->run(arguments); }
    // The program's standard output on a pipe whose reader is gone, as when "| head -n 1"
    // has had its line. QProcess::closeReadChannel() would read on and drop the lines: the
    // program would never see its reader go.
    CliRun runWithOutputClosed(const QStringList &arguments) const
    {
        QProcess process;
        station->prepare(process, station->filePath(QFileInfo(KORVANE_CLI).fileName()), arguments);
#ifdef Q_OS_WIN
        SECURITY_ATTRIBUTES inheritable { sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };
        HANDLE reader = nullptr, writer = nullptr;
        if (!CreatePipe(&reader, &writer, &inheritable, 0))
            return {};
        CloseHandle(reader);
        process.setCreateProcessArgumentsModifier([writer](QProcess::CreateProcessArguments *created) {
            created->startupInfo->hStdOutput = writer;
        });
        process.start();
        CloseHandle(writer);
#else
        int ends[2];
        if (::pipe(ends) != 0)
            return {};
        ::close(ends[0]);
        // Only the program gets the pipe, as its standard output.
        ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
        process.setChildProcessModifier([writer = ends[1]] { ::dup2(writer, STDOUT_FILENO); });
        process.start();
        ::close(ends[1]);
#endif
        return finishRun(process);
    }
    // No board read or written, nothing asked of the plug-in but its level.
    bool touchedNothing() const
    {
        return bench().callsSince(0).filter(QRegularExpression("^ZV_(Read|Write)")).isEmpty()
            && station->pluginCalls().isEmpty();
    }
    QList<TraceRecord> traceRecords() const
    {
        return chainedTraceRecords(station->filePath(QStringLiteral("trace")));
    }

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<CliStation> station; // its folder is the application directory
};

void TestCli::refused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file"); // made in the application directory before the run
    QTest::addColumn<QByteArray>("content"); // null: no regular file
    QTest::addColumn<QString>("error"); // stderr's first line
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("initializeFails");
    const auto refused = [](const char *name, const QStringList &arguments, const QString &error,
                             const QString &file = {}, const QByteArray &content = {}) {
        QTest::newRow(name) << arguments << file << content << error << 2 << false;
    };
    // The window's refusals themselves are tests/actions'; here, how they reach a station.
    refused("no plug-in", { "basic" }, "Dll is not loaded!", "config.json", "{}");
    // --plugin is used instead of the configured plug-in, never beside it.
    refused("plug-in fails to load", { "basic", "--plugin", "missing.dll" }, "Failed to load missing.dll!");
    refused("missing --config", { "basic", "--config", "none.json" }, "cannot read none.json");
    refused("loop without refuse", { "basic", "--loop" },
        "--loop with basic needs \"TRACE\": true and \"DUPLICATE_CPUID\": \"refuse\"");
    // open() and dlopen() of a FIFO wait for a writer for good, deaf to a stop request.
    refused("no regular file as --plugin", { "basic", "--plugin", "./special" }, "Failed to load ./special!",
        "work/special");
    refused("no regular file as --config", { "basic", "--config", "special" }, "cannot read special",
        "work/special");
    refused("--config over 1 MiB", { "basic", "--config", "special" }, "special is larger than 1 MiB",
        "work/special", "{}" + QByteArray((1 << 20) - 1, ' '));
    // A trailing comma after the keys a station would have run on; the reason is Qt's.
    const QByteArray notJson = R"({"TRACE": true, "DUPLICATE_CPUID": "refuse",})";
    QJsonParseError parseError;
    QJsonDocument::fromJson(notJson, &parseError);
    refused("config.json not JSON", { "status" },
        QStringLiteral("config.json is not valid JSON: %1 at offset %2")
            .arg(parseError.errorString())
            .arg(parseError.offset),
        "config.json", notJson);
    // Nothing a station does can work without the device library.
    for (const char *command : { "status", "basic" })
        QTest::addRow("library fails to initialise, %s", command)
            << QStringList { command } << QString() << QByteArray() << "device library failed to initialise"
            << 2 << true;
    const auto usage = [](const char *name, const QStringList &arguments, const QString &problem) {
        QTest::newRow(name) << arguments << QString() << QByteArray() << "korvane-cli: " + problem << 3
                            << false;
    };
    usage("unknown command", { "frobnicate" }, "unknown command: frobnicate");
    usage("--index 4", { "high", "--key", "24.bin", "--index", "4" }, "high needs --index 0, 1, 2 or 3");
    usage("--wait with --loop", { "basic", "--loop", "--wait", "5" },
        "--loop waits by itself; --wait is for one action");
    // Its milliseconds once overflowed an int: one gave up after 0.75 s, the other never.
    for (const char *seconds : { "4294968", "2147484", "86401" })
        usage(qPrintable(QStringLiteral("--wait %1").arg(seconds)), { "basic", "--wait", seconds },
            "--wait needs 0 to 86400 seconds");
}

void TestCli::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QFETCH(int, status);
    QFETCH(bool, initializeFails);
    writeConfig();
    bench().attach(QStringLiteral("b1"));
    bench().setInitializeFails(initializeFails);
    if (!content.isNull()) {
        station->writeFile(file, content);
    } else if (!file.isEmpty()) {
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(station->filePath(file)).constData(), 0600), 0);
#else
        QVERIFY(QDir().mkdir(station->filePath(file))); // no FIFOs: a directory takes the same check
#endif
    }
    const CliRun result = run(arguments);
    QCOMPARE(result.status, status);
    QCOMPARE(result.err.value(0), error);
    QCOMPARE(result.err.size(), status == 3 ? 2 : 1); // a usage error says where to read more
    QCOMPARE(result.out, QStringList());
    QVERIFY(touchedNothing());
}

void TestCli::actionOutcome_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("failingCall"); // a device call that fails on the board
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("status");
    // Found where it was named, not looked up in the system's library path.
    QTest::newRow("--plugin in the working directory")
        << QStringList { "middle", "--data", "100.bin", "--plugin", QFileInfo(TestPlugins::recordingPlugin).fileName() }
        << "" << (doneLines(2) << "RESULT middle ok exit_code=0") << 0;
    QTest::newRow("write fails") << QStringList { "basic" } << "ZV_WriteVendorRpmbData"
                                 << (doneLines(1).mid(0, 3)
                                        << "FAIL write cpuid...fail" << "RESULT basic failed exit_code=-1")
                                 << 11;
}

void TestCli::actionOutcome()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, failingCall);
    QFETCH(QStringList, lines);
    QFETCH(int, status);
    bench().attach(QStringLiteral("b1"));
    writeConfig({ { "TRACE", true } });
    if (!failingCall.isEmpty())
        bench().failCall(QStringLiteral("b1"), failingCall);
    station->writeFile(QStringLiteral("work/100.bin"), QByteArray(100, 'd'));
    const QString plugin = QFileInfo(TestPlugins::recordingPlugin).fileName();
    QVERIFY(QFile::copy(absolute(TestPlugins::recordingPlugin), station->filePath("work/" + plugin)));
    const qint32 exitCode = status == 0 ? 0 : 10 - status;

    const CliRun plain = run(arguments);
    QCOMPARE(withoutDurations(plain.out), lines);
    QVERIFY(plain.out.constLast() != withoutDurations(plain.out).constLast());
    QCOMPARE(plain.status, status);
    QCOMPARE(plain.err, QStringList());
    QCOMPARE(traceRecords().constLast().exitCode, exitCode);

    // The same lines as JSON objects, one a line.
    const CliRun json = run(arguments << "--json");
    QCOMPARE(json.status, status);
    QCOMPARE(json.out.size(), plain.out.size());
    for (int i = 0; i < json.out.size(); ++i) {
        QJsonParseError parseError;
        QJsonObject event = QJsonDocument::fromJson(json.out.at(i).toUtf8(), &parseError).object();
        QVERIFY2(parseError.error == QJsonParseError::NoError, qPrintable(json.out.at(i)));
        const QString text = plain.out.at(i);
        if (i < json.out.size() - 1) {
            QCOMPARE(event,
                QJsonObject(
                    { { "event", "progress" }, { "text", QString(text).remove(QRegularExpression("^FAIL ")) },
                        { "error", text.startsWith("FAIL ") } }));
            continue;
        }
        const double duration = event.take("duration_ms").toDouble(-1);
        QVERIFY(duration >= 0 && duration == qRound64(duration));
        QCOMPARE(event,
            QJsonObject(
                { { "event", "result" }, { "level", arguments.first() }, { "exit_code", exitCode } }));
    }
}

void TestCli::status_data()
{
    QTest::addColumn<QString>("setup"); // "board", "scan fails" or nothing
    QTest::addColumn<QString>("line");
    QTest::addColumn<QJsonObject>("json");
    const auto status = [](const QString &text, int count) {
        return QJsonObject { { "event", "status" }, { "status", text }, { "count", count } };
    };
    QTest::newRow("no board") << "" << "STATUS count=0" << status("", 0);
    QTest::newRow("one board") << "board" << "STATUS count=1 One Loader device"
                               << status("One Loader device", 1);
    // The window shows a failed scan as no board; a station must tell them apart.
    QJsonObject scanFailed = status("", -1);
    scanFailed.insert("scan_failed", true);
    QTest::newRow("scan fails") << "scan fails" << "STATUS count=-1 scan failed" << scanFailed;
}

void TestCli::status()
{
    QFETCH(QString, setup);
    QFETCH(QString, line);
    QFETCH(QJsonObject, json);
    // Without a configuration: no plug-in needed.
    if (!setup.isEmpty())
        bench().attach(QStringLiteral("b1"));
    if (setup == "scan fails")
        bench().setScanCount(-1);
    const CliRun plain = run({ "status" }), asJson = run({ "status", "--json" });
    QCOMPARE(plain.out, QStringList { line });
    QCOMPARE(asJson.out.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(asJson.out.constFirst().toUtf8()).object(), json);
    QCOMPARE(QList<int>({ plain.status, asJson.status }), QList<int>({ 0, 0 }));
    QCOMPARE(plain.err + asJson.err, QStringList());
}

void TestCli::waitForABoard_data()
{
    QTest::addColumn<QString>("event"); // what happens while it waits
    QTest::newRow("a board comes") << "attach";
    QTest::newRow("time runs out") << "";
#ifdef Q_OS_UNIX
    // A closed terminal: a stop request like any other (SIGTERM's is the loop's test).
    QTest::newRow("hang-up") << "SIGHUP";
#endif
}

void TestCli::waitForABoard()
{
    QFETCH(QString, event);
    writeConfig();
    QElapsedTimer clock;
    clock.start();
    const auto cli = station->start({ "basic", "--wait", event.isEmpty() ? "1" : "86400" });
    // The first look, then one after subscribing to device changes: it waits now.
    QTRY_VERIFY_WITH_TIMEOUT(bench().journalCalls(QStringLiteral("ZV_ScanDeviceW")).size() >= 2, 20000);
    if (event == "attach") {
        QCOMPARE(cli->state(), QProcess::Running);
        bench().attach(QStringLiteral("b1"));
    }
#ifdef Q_OS_UNIX
    if (event.startsWith("SIG"))
        QCOMPARE(::kill(pid_t(cli->processId()), SIGHUP), 0);
#endif
    const CliRun result = finishRun(*cli);
    if (event == "attach") {
        QCOMPARE(result.status, 0); // the action's lines are stationLoop's
        return;
    }
    QCOMPARE(result.status, 2);
    QCOMPARE(result.err, QStringList { "no available device!" });
    QCOMPARE(result.out, QStringList());
    // The whole second, give or take a coarse timer's 5 %; a stop at once, not after a day.
    QVERIFY2(event.isEmpty() ? clock.elapsed() >= 950 : clock.elapsed() < 20000,
        qPrintable(QString::number(clock.elapsed())));
}

void TestCli::outputClosed()
{
    writeConfig({ { "TRACE", true } });
    bench().attach(QStringLiteral("b1"));
    const CliRun result = runWithOutputClosed({ "basic" });
    // Its lines are lost, none of them on QProcess's channel; the action, its record and
    // its status are not.
    QCOMPARE(result.out, QStringList());
    QCOMPARE(result.status, 0);
    QCOMPARE(result.err, QStringList());
    const QList<TraceRecord> records = traceRecords();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.constFirst().exitCode, 0);
}

#ifdef Q_OS_UNIX
// On Windows the default handler ends the program until its own is set.
void TestCli::stopDuringStartUp()
{
    writeConfig();
    // The plug-in's load waits for good: its journal is a FIFO that nobody reads.
    QCOMPARE(::mkfifo(QFile::encodeName(station->filePath(QStringLiteral("plugin.jsonl"))).constData(), 0600), 0);
    const auto cli = station->start({ "basic" });
    // The device library is set up right before the plug-in is loaded.
    QTRY_VERIFY_WITH_TIMEOUT(!bench().journalCalls(QStringLiteral("ZV_InitializeW")).isEmpty(), 20000);
    QCOMPARE(::kill(pid_t(cli->processId()), SIGINT), 0);
    QVERIFY(cli->waitForFinished(10000));
    QCOMPARE(cli->exitStatus(), QProcess::CrashExit);
}
#endif

void TestCli::stationLoop()
{
    writeConfig({ { "TRACE", true }, { "DUPLICATE_CPUID", "refuse" } });
    const auto cli = station->start({ "basic", "--loop" });
    QStringList out, expected;
    const QStringList boards { "b1", "b2", "b3", "b1" };
    for (int unit = 0; unit < boards.size(); ++unit) {
        const bool again = unit == 3;
        // Each board once the program has seen the previous one go.
        expected << "WAITING for a board";
        QVERIFY2(readUntil(*cli, out, expected.constLast()), qPrintable(out.join('\n')));
        // The second pass of b1 is slow, to be stopped during its action: an invalid board
        // is none to act on until it is slow.
        bench().attach(boards.at(unit), again ? 7 : ZvSim::Loader);
        if (again) {
            bench().setDelay(boards.at(unit), 400);
            bench().setState(boards.at(unit), ZvSim::Loader);
        }
#ifdef Q_OS_UNIX
        if (again) {
            QVERIFY(readUntil(*cli, out, "read cpuid..."));
            QCOMPARE(::kill(pid_t(cli->processId()), SIGTERM), 0);
        }
#endif
        expected << (again ? QStringList { "read cpuid...", "FAIL check cpuid...fail",
                         "RESULT basic failed exit_code=-11" }
                           : doneLines(1) << "RESULT basic ok exit_code=0");
        expected << QStringLiteral("UNITS passed=%1 failed=%2").arg(qMin(unit + 1, 3)).arg(again ? 1 : 0);
        QVERIFY2(readUntil(*cli, out, expected.constLast()), qPrintable(out.join('\n')));
        if (!again)
            bench().detach(boards.at(unit));
    }
#ifdef Q_OS_UNIX
    const CliRun result = finishRun(*cli, out);
    QCOMPARE(result.status, 5);
    QCOMPARE(withoutDurations(result.out), expected << "TOTAL passed=3 failed=1");
    QCOMPARE(result.err, QStringList());
#else
    // No SIGTERM on Windows, and a console control event would reach the test as well.
    cli->kill();
    QVERIFY(cli->waitForFinished(30000));
    QCOMPARE(withoutDurations(out), expected);
#endif
    // Every unit recorded, the stopped one once it had finished.
    const QList<TraceRecord> records = traceRecords();
    QCOMPARE(records.size(), 4);
    for (int i = 0; i < records.size(); ++i) {
        QCOMPARE(records.at(i).cpuId, QString::fromLatin1(bench().cpuId(boards.at(i)).toHex()));
        QCOMPARE(records.at(i).exitCode, i == 3 ? -11 : 0);
    }
}

void TestCli::twoLoopsOnOneFolderWriteABoardOnce()
{
    writeConfig({ { "TRACE", true }, { "DUPLICATE_CPUID", "refuse" }, { "LOG", true } });
    // A second copy of the program in the same folder.
    const QFileInfo built(absolute(KORVANE_CLI));
    const QString second = station->filePath(built.fileName().insert(built.completeBaseName().size(), "-2"));
    QVERIFY(QFile::copy(built.filePath(), second));
    const std::unique_ptr<QProcess> loops[] = { station->start({ "basic", "--loop" }), std::make_unique<QProcess>() };
    station->prepare(*loops[1], second, { "basic", "--loop" });
    loops[1]->start(QIODevice::ReadOnly | QIODevice::Text);
    QStringList out[2];
    // The same board again and again, both programs acting on it at once.
    for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < 2; ++i)
            QVERIFY2(readUntil(*loops[i], out[i], "WAITING for a board"), qPrintable(out[i].join('\n')));
        bench().attach(QStringLiteral("b1"));
        for (int i = 0; i < 2; ++i)
            QVERIFY2(readUntil(*loops[i], out[i], "UNITS "), qPrintable(out[i].join('\n')));
        bench().detach(QStringLiteral("b1"));
    }
    for (const auto &loop : loops) {
        loop->kill();
        QVERIFY(loop->waitForFinished(30000));
    }
    const QStringList results = withoutDurations(out[0].filter("RESULT") + out[1].filter("RESULT"));
    QCOMPARE(results.size(), 100);
    QCOMPARE(results.count("RESULT basic ok exit_code=0"), 1);
    QCOMPARE(results.count("RESULT basic failed exit_code=-11"), 99);
    QCOMPARE(bench().journalCalls("ZV_WriteVendorRpmbData").size(), 1);
    // Both programs' records, the refusals too, in one unbroken chain.
    QCOMPARE(traceRecords().size(), 100);
    // And both programs' log lines, none written over by the other's.
    const QStringList logLines = linesOf(station->log());
    QCOMPARE(logLines.filter(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d \\d{3} \\[[A-Za-z]+\\] ")), logLines);
    QCOMPARE(logLines.filter(QRegularExpression(" basic action in$")).size(), 100);
}

void TestCli::claimLeftByAKilledRun()
{
    writeConfig({ { "TRACE", true }, { "DUPLICATE_CPUID", "refuse" } });
    bench().attach(QStringLiteral("b1"));
    bench().setDelay(QStringLiteral("b1"), 1000);
    const auto killed = station->start({ "basic" });
    QStringList out;
    QVERIFY2(readUntil(*killed, out, "write cpuid..."), qPrintable(out.join('\n')));
    // Killed between its claim and its record, as a power loss or kill -9 would end it.
    killed->kill();
    QVERIFY(killed->waitForFinished(30000));
    QCOMPARE(traceRecords().size(), 0);
    bench().setDelay(QStringLiteral("b1"), 0);

    // Refused in doubt (-11); the lines are tst_actions' duplicateGuard.
    QCOMPARE(run({ "basic" }).status, 21);
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
