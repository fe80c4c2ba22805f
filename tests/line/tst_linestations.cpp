#include "linetestmain.h"
#include "clistation.h"
#include "linedatabase.h"
#include "linestation.h"
#include "linetestserver.h"
#include "samplerecords.h"
#include "testenvironment.h"
#include "tracefiles.h"
#include "tracejournal.h"
#include "windowdriver.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace {

QByteArray cpuIdOf(const QString &name)
{
    return QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).left(16);
}

} // namespace

// Stations of one line, each korvane-cli in a folder of its own on its own bench, and the
// window, against one throwaway line database.
class TestLineStations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void crashBetweenClaimAndWriteStaysInDoubt();
    void unreachable_data();
    void unreachable();
    void crashBeforeTheUploadIsSettledAtRestart();
    void outageInALoop_data();
    void outageInALoop();
    void failOverToTheStandby();
    void standbyOutageLeavesNoClaimInDoubt();
    void windowShowsTheLine();
    void warnWritesAnIdTheLineHasSeen(); // last: it leaves a finding on the line

private:
    CliStation &station(int index, const QJsonObject &extra = {})
    {
        while (int(stations.size()) <= index) {
            const QString login = QStringLiteral("station-%1").arg(stations.size() + 1);
            stations.push_back(std::make_unique<CliStation>(KORVANE_CLI, folder->filePath(login)));
            QJsonObject config { { "TRACE", true }, { "DUPLICATE_CPUID", "refuse" }, { "STATION", stationName(index) },
                { "LINE_DB", server.conninfo(login) } };
            for (auto it = extra.begin(); it != extra.end(); ++it)
                config.insert(it.key(), it.value());
            stations.back()->writeConfig(config);
        }
        return *stations[index];
    }
    // Each test's stations under names of their own: the line keeps every test's records.
    static QString stationName(int index)
    {
        return QStringLiteral("%1 %2 %3").arg(QTest::currentTestFunction(), QTest::currentDataTag()).arg(index + 1);
    }
    // On this test program's server unless db names another.
    int lineTool(const QStringList &arguments, QString db = QString()) const
    {
        if (db.isEmpty())
            db = server.conninfo(QStringLiteral("supervisor"));
        return runProgram(KORVANE_LINE_TOOL, QStringList { QStringLiteral("--db"), db } + arguments).status;
    }
    // The schema, and logins station-1 to station-N and supervisor.
    static bool setUpLine(LineTestServer &line, int stationLogins)
    {
        if (!line.initSchema())
            return false;
        for (int i = 1; i <= stationLogins; ++i) {
            if (!line.createLogin(QStringLiteral("station-%1").arg(i), QStringLiteral("pw-%1").arg(i),
                    QStringLiteral("korvane_station")))
                return false;
        }
        return line.createLogin(
            QStringLiteral("supervisor"), QStringLiteral("pw-s"), QStringLiteral("korvane_supervisor"));
    }
    // Two stations with a board of the same chip: the first's action, slow, as it writes;
    // null when it never got there.
    std::unique_ptr<QProcess> startSlowFirst(const QByteArray &cpuId, int delay)
    {
        for (int i = 0; i < 2; ++i)
            station(i).bench().attach(QStringLiteral("b1"), ZvSim::Loader, cpuId);
        station(0).bench().setDelay(QStringLiteral("b1"), delay);
        auto first = station(0).start({ "basic" });
        QStringList out;
        return readUntil(*first, out, "write cpuid...") ? std::move(first) : nullptr;
    }
    qint64 storedRecords(const QString &stationName, LineDatabase *db = nullptr)
    {
        LineDatabase &on = db ? *db : *admin;
        const LineDatabase::Result result
            = on.exec(QStringLiteral("select count(*) from korvane.records where station = $1"), { stationName });
        return result.ok ? result.rows.value(0).value(0).toLongLong() : -1;
    }

    LineTestServer server;
    std::unique_ptr<LineDatabase> admin;
    std::unique_ptr<QTemporaryDir> folder;
    std::vector<std::unique_ptr<CliStation>> stations;
};

void TestLineStations::initTestCase()
{
    QVERIFY2(server.start(), qPrintable(server.error()));
    QVERIFY(setUpLine(server, 2));
    admin = std::make_unique<LineDatabase>(server.conninfo());
}

void TestLineStations::init()
{
    stations.clear();
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
}

void TestLineStations::crashBetweenClaimAndWriteStaysInDoubt()
{
    const QByteArray cpuId = cpuIdOf(QStringLiteral("crash"));
    const auto killed = startSlowFirst(cpuId, 2000);
    QVERIFY(killed);
    CliStation &second = station(1);
    killed->kill();
    QVERIFY(killed->waitForFinished(30000));

    CliRun refused = second.run({ "basic" });
    QCOMPARE(refused.status, 21);
    QCOMPARE(refused.out.filter(QRegularExpression("^FAIL cpuid in doubt since \\S+ on " + stationName(0) + "$")).size(), 1);
    QVERIFY(second.pluginCalls().isEmpty());

    QCOMPARE(lineTool({ "release", QString::fromLatin1(cpuId.toHex()), "--reason", "board checked: blank" }), 0);
    QCOMPARE(second.run({ "basic" }).status, 0);
    QCOMPARE(second.bench().journalCalls(QStringLiteral("ZV_WriteVendorRpmbData")).size(), 1);
}

void TestLineStations::unreachable_data()
{
    QTest::addColumn<QString>("lineDb");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("loggedAtStart");
    const QString station1 = server.conninfo(QStringLiteral("station-1"));
    QTest::newRow("password in LINE_DB") << station1 + " password=pw-1" << "must not hold a password"
                                           << "LINE_DB must not hold a password";
    // A server that refuses the connection. Connection strings libpq cannot read and a
    // database without the schema reach LineDatabase the same way: tst_line's.
    QTest::newRow("no password") << QString(station1).replace(QRegularExpression("passfile=\\S+"), "passfile=none")
                                 << "no password supplied" << QString();
}

// A guarded Basic action the line database cannot answer: -12, nothing sent or written.
void TestLineStations::unreachable()
{
    QFETCH(QString, lineDb);
    QFETCH(QString, reason);
    QFETCH(QString, loggedAtStart);
    CliStation &bench = station(0, { { "LINE_DB", lineDb }, { "LOG", true } });
    bench.bench().attach(QStringLiteral("b1"));
    const CliRun run = bench.run({ "basic" });
    QCOMPARE(run.status, 22);
    QVERIFY2(run.out.contains("FAIL check line database...fail"), qPrintable(run.out.join('\n')));
    QVERIFY(bench.pluginCalls().isEmpty());
    QVERIFY(bench.bench().journalCalls(QStringLiteral("ZV_WriteVendorRpmbData")).isEmpty());
    const QStringList log = linesOf(bench.log()), logged = log.filter("line database unreachable: ");
    QCOMPARE(logged.size(), 1);
    QVERIFY2(logged.constFirst().contains(reason), qPrintable(logged.constFirst()));
    if (!loggedAtStart.isEmpty())
        QCOMPARE(log.filter(QRegularExpression(" " + loggedAtStart + "$")).size(), 1);
    // The record waits: the status says so, and the station goes on without the line.
    QCOMPARE(bench.run({ "status" }).out.constLast(), QStringLiteral("LINE offline, 1 records waiting"));
}

// Killed after its record, before the upload: the restart uploads it and settles the claim.
void TestLineStations::crashBeforeTheUploadIsSettledAtRestart()
{
    const auto cut = startSlowFirst(cpuIdOf(QStringLiteral("settled at restart")), 1000);
    QVERIFY(cut);
    CliStation &first = station(0);
    CliStation &second = station(1);
    // The server goes before the record can reach it: the record stays on the station.
    QVERIFY(server.stop());
    QCOMPARE(finishRun(*cut).status, 0);
    QVERIFY(server.start());
    QCOMPARE(second.run({ "basic" }).out.filter("FAIL cpuid in doubt since").size(), 1);

    QCOMPARE(first.run({ "status" }).out.constLast(), QStringLiteral("LINE online"));
    const CliRun refused = second.run({ "basic" });
    QCOMPARE(refused.status, 21);
    QVERIFY2(refused.out.filter(QRegularExpression("^FAIL cpuid already written at \\S+ on " + stationName(0) + "$")).size() == 1,
        qPrintable(refused.out.join('\n')));
    QCOMPARE(lineTool({ "status" }), 0);
}

void TestLineStations::outageInALoop_data()
{
    QTest::addColumn<QString>("policy");
    QTest::addColumn<QString>("duringOutage");
    QTest::newRow("refuse") << "refuse" << "RESULT basic failed exit_code=-12";
    QTest::newRow("local") << "local" << "RESULT basic ok exit_code=0";
}

// The server goes away in the middle of a loop and comes back: every record reaches it once.
void TestLineStations::outageInALoop()
{
    QFETCH(QString, policy);
    QFETCH(QString, duringOutage);
    CliStation &bench = station(0, { { "LINE_DB_OFFLINE", policy } });
    const auto loop = bench.start({ "basic", "--loop" });
    QStringList out;
    const auto unit = [&](const QString &board, const QString &expected) {
        QVERIFY2(readUntil(*loop, out, "WAITING"), qPrintable(out.join('\n')));
        bench.bench().attach(board, ZvSim::Loader, cpuIdOf(policy + board));
        QVERIFY2(readUntil(*loop, out, "RESULT"), qPrintable(out.join('\n')));
        QVERIFY2(out.constLast().startsWith(expected), qPrintable(out.constLast()));
        QVERIFY(readUntil(*loop, out, "UNITS"));
        bench.bench().detach(board);
    };
    unit("b1", "RESULT basic ok exit_code=0");
    QVERIFY(server.stop());
    unit("b2", duringOutage);
    unit("b3", duringOutage);
    QVERIFY(server.start());
    unit("b4", "RESULT basic ok exit_code=0");
    loop->kill();
    loop->waitForFinished(30000);

    const int written = policy == "local" ? 4 : 2;
    QCOMPARE(bench.bench().journalCalls(QStringLiteral("ZV_WriteVendorRpmbData")).size(), written);
    QCOMPARE(storedRecords(stationName(0)), 4);
    QCOMPARE(chainedTraceRecords(bench.filePath("trace")).size(), 4);
    QCOMPARE(lineTool({ "status" }), 0);
}

// The primary crashes while stations race and its synchronous standby is promoted: the
// stations reconnect on their own, and whatever the primary answered is on the new one.
void TestLineStations::failOverToTheStandby()
{
    LineTestServer pair(LineTestServer::Standby);
    QVERIFY2(pair.start(), qPrintable(pair.error()));
    constexpr int count = 3;
    QVERIFY(setUpLine(pair, count));

    std::vector<std::unique_ptr<QProcess>> loops;
    std::vector<QStringList> out(count);
    for (int i = 0; i < count; ++i) {
        const QString login = QStringLiteral("station-%1").arg(i + 1);
        loops.push_back(station(i, { { "LINE_DB", pair.multiHostConninfo(login) } }).start({ "basic", "--loop" }));
    }
    const auto put = [&](int i, const QString &board, const QByteArray &cpuId) {
        if (!readUntil(*loops[i], out[i], "WAITING"))
            return false;
        station(i).bench().attach(board, ZvSim::Loader, cpuId);
        return true;
    };
    // The unit's result line once the station is through with it, its upload included.
    const auto take = [&](int i, const QString &board) {
        if (!readUntil(*loops[i], out[i], "RESULT"))
            return QString();
        const QString result = out[i].constLast();
        if (!readUntil(*loops[i], out[i], "UNITS"))
            return QString();
        station(i).bench().detach(board);
        return result;
    };
    const QRegularExpression written("^RESULT basic ok exit_code=0 ");
    const QRegularExpression refused("^RESULT basic failed exit_code=-11 ");
    const QRegularExpression unreachable("^RESULT basic failed exit_code=-12 ");
    // Outside the switch every unit reaches the line: one station writes, the others are refused.
    const auto race = [&](const QString &board) {
        const QByteArray cpuId = cpuIdOf(board);
        for (int i = 0; i < count; ++i) {
            if (!put(i, board, cpuId))
                return QStringLiteral("station %1 waits for no board").arg(i + 1);
        }
        int writes = 0;
        for (int i = 0; i < count; ++i) {
            const QString result = take(i, board);
            if (result.contains(written))
                ++writes;
            else if (!result.contains(refused))
                return QStringLiteral("station %1 on %2: %3").arg(i + 1).arg(board, result);
        }
        return writes == 1 ? QString() : QStringLiteral("%1 writes of %2").arg(writes).arg(board);
    };

    constexpr int rounds = 8;
    for (int round = 0; round < rounds; ++round) {
        const QString problem = race(QStringLiteral("before-%1").arg(round));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    // The first station has claimed and writes when the primary goes: its record cannot be
    // uploaded before the promotion. The others try the same chip during the switch.
    const QByteArray chip = cpuIdOf(QStringLiteral("switch"));
    QVERIFY(put(0, QStringLiteral("switch"), chip));
    station(0).bench().setDelay(QStringLiteral("switch"), 500);
    QVERIFY2(readUntil(*loops[0], out[0], "write cpuid..."), qPrintable(out[0].join('\n')));
    QVERIFY2(pair.stopPrimary(), qPrintable(pair.error()));
    for (int i = 1; i < count; ++i)
        QVERIFY(put(i, QStringLiteral("switch"), chip));
    QVERIFY(take(0, QStringLiteral("switch")).contains(written));
    QVERIFY2(pair.promote(), qPrintable(pair.error()));
    int duringSwitch = 0;
    for (int i = 1; i < count; ++i) {
        const QString result = take(i, QStringLiteral("switch"));
        QVERIFY2(result.contains(unreachable) || result.contains(refused), qPrintable(result));
        duringSwitch += result.contains(unreachable);
    }
    qDebug() << duringSwitch << "of" << count - 1 << "units during the switch found no line database";

    // The claim the crashed primary confirmed holds on the promoted standby.
    for (int i = 0; i < count; ++i)
        QVERIFY(put(i, QStringLiteral("again"), chip));
    const QRegularExpression firstStation(
        "^FAIL cpuid (in doubt since|already written at) \\S+ on " + QRegularExpression::escape(stationName(0)) + "$");
    for (int i = 0; i < count; ++i) {
        const qsizetype before = out[i].size();
        const QString result = take(i, QStringLiteral("again"));
        QVERIFY2(result.contains(refused), qPrintable(result));
        if (i > 0)
            QVERIFY2(!out[i].mid(before).filter(firstStation).isEmpty(), qPrintable(out[i].mid(before).join('\n')));
    }
    for (int round = 0; round < rounds; ++round) {
        const QString problem = race(QStringLiteral("after-%1").arg(round));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    QHash<QString, int> writesPerBoard;
    int encrypted = 0;
    for (int i = 0; i < count; ++i) {
        loops[i]->kill();
        loops[i]->waitForFinished(30000);
        for (const QJsonObject &call : station(i).bench().journalCalls(QStringLiteral("ZV_WriteVendorRpmbData")))
            ++writesPerBoard[call.value("board").toString()];
        encrypted += station(i).pluginCalls().count(QStringLiteral("doBasicEncrypt"));
    }
    // A refused unit never reaches the plug-in.
    QCOMPARE(encrypted, 2 * rounds + 1);
    QCOMPARE(writesPerBoard.size(), 2 * rounds + 1);
    for (auto it = writesPerBoard.cbegin(); it != writesPerBoard.cend(); ++it)
        QVERIFY2(it.value() == 1, qPrintable(QStringLiteral("%1 written %2 times").arg(it.key()).arg(it.value())));

    // Every record of every station is on the promoted server, and nothing is in doubt.
    LineDatabase promoted(pair.multiHostConninfo());
    for (int i = 0; i < count; ++i) {
        const qint64 local = chainedTraceRecords(station(i).filePath("trace")).size();
        QCOMPARE(local, 2 * rounds + 2);
        QCOMPARE(storedRecords(stationName(i), &promoted), local);
    }
    QCOMPARE(lineTool({ "status" }, pair.multiHostConninfo(QStringLiteral("supervisor"))), 0);
}

// A synchronous standby that is down holds every commit on the primary: a claim whose
// answer never came shows once the standby is back, and the action's record, sent again,
// settles it then.
void TestLineStations::standbyOutageLeavesNoClaimInDoubt()
{
    LineTestServer pair(LineTestServer::Standby);
    QVERIFY2(pair.start(), qPrintable(pair.error()));
    QVERIFY(setUpLine(pair, 1));
    LineDatabase admin(pair.conninfo());
    QTemporaryDir trace;
    TraceJournal journal(trace.path());
    LineStation line(pair.conninfo(QStringLiteral("station-1")), trace.path(), LineOfflinePolicy::Refuse,
        std::chrono::milliseconds(500));

    QVERIFY2(pair.stopStandby(), qPrintable(pair.error()));
    TraceRecord record = SampleRecords::record(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs),
        QStringLiteral("basic"), QString::fromLatin1(cpuIdOf(QStringLiteral("held")).toHex()));
    record.station = stationName(0);
    QCOMPARE(line.claim(record, false).outcome, LineClaim::Outcome::Unreachable);
    record.exitCode = -12;
    QVERIFY(journal.append(record));
    QCOMPARE(line.uploadWaiting().waiting, 1);

    QVERIFY2(pair.start(), qPrintable(pair.error()));
    const auto claimStates = [&] {
        return admin.exec(QStringLiteral("SELECT string_agg(state, ',') FROM korvane.claims")).rows.value(0).value(0);
    };
    // Both held commits end once the standby has caught up: the claim and the record.
    QTRY_COMPARE_WITH_TIMEOUT(claimStates(), QStringLiteral("open"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(storedRecords(stationName(0), &admin), 1, 30000);
    const LineState state = line.uploadWaiting();
    QVERIFY2(state.online && state.waiting == 0, qPrintable(state.reason));
    QCOMPARE(claimStates(), QStringLiteral("failed"));
}

// The window's label: offline with what waits while the server is silent — and the start
// does not wait for it — then online once it answers.
void TestLineStations::windowShowsTheLine()
{
    TestEnvironment environment;
    LineTestServer silent(LineTestServer::Silent);
    QVERIFY2(silent.start(), qPrintable(silent.error()));
    const QString silentDb = QStringLiteral("host=127.0.0.1 port=%1 dbname=korvane user=station-1").arg(silent.port());
    environment.writeFile("config.json",
        QJsonDocument(QJsonObject { { "TRACE", true }, { "STATION", "station-1" }, { "LINE_DB", silentDb } }).toJson());
    // Two records from earlier work, not yet on the line.
    CliStation &earlier = station(0, { { "LINE_DB_OFFLINE", "local" }, { "LINE_DB", silentDb } });
    earlier.bench().attach(QStringLiteral("b1"));
    QCOMPARE(earlier.run({ "middle", "--data", earlier.filePath("config.json") }).status, 0);
    QCOMPARE(earlier.run({ "middle", "--data", earlier.filePath("config.json") }).status, 0);
    QVERIFY(QDir().rename(earlier.filePath("trace"), environment.filePath("trace")));

    {
        WindowDriver driver;
        QElapsedTimer clock;
        clock.start();
        driver.open();
        // A start that waited for the silent server would take its whole timeout of 5 s.
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        auto *label = driver.widget<QLabel>("lineStatusLabel");
        QVERIFY(label);
        QTRY_COMPARE(label->text(), QStringLiteral("Line: offline, 2 records waiting"));
        QVERIFY(driver.close());
    }

    environment.writeFile("config.json",
        QJsonDocument(QJsonObject { { "TRACE", true }, { "STATION", "station-1" },
                          { "LINE_DB", server.conninfo(QStringLiteral("station-1")) } })
            .toJson());
    WindowDriver driver;
    driver.open();
    QTRY_COMPARE_WITH_TIMEOUT(driver.widget<QLabel>("lineStatusLabel")->text(), QStringLiteral("Line: online"), 15000);
    QCOMPARE(storedRecords(stationName(0)) >= 2, true);
    QVERIFY(driver.close());
}

// A station on "warn" is told on which station the line has seen the id, and writes all the
// same: the line then has it written twice.
void TestLineStations::warnWritesAnIdTheLineHasSeen()
{
    const QByteArray cpuId = cpuIdOf(QStringLiteral("warned"));
    for (int i = 0; i < 2; ++i) {
        CliStation &bench = station(i, { { "DUPLICATE_CPUID", i == 0 ? "refuse" : "warn" } });
        bench.bench().attach(QStringLiteral("b1"), ZvSim::Loader, cpuId);
        const CliRun run = bench.run({ "basic" });
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.filter(QRegularExpression("^FAIL cpuid already written at \\S+ on " + stationName(0) + "$")).size(), i);
    }
    QCOMPARE(lineTool({ "status" }), 4);
}

KORVANE_LINE_TEST_MAIN(TestLineStations, QApplication)
#include "tst_linestations.moc"
