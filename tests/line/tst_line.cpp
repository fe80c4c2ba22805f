#include "linetestmain.h"
#include "clistation.h"
#include "linedatabase.h"
#include "lineschema.h"
#include "linestation.h"
#include "lineupload.h"
#include "linetestserver.h"
#include "samplerecords.h"
#include "tracejournal.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

using SampleRecords::utc;
constexpr QChar zero = u'0';

QString dayOf(int day)
{
    return utc(day).left(10);
}

// A successful Basic action unless the exit code says otherwise.
TraceRecord record(const QString &station, const QString &time, const QString &cpuId, qint32 exitCode = 0)
{
    TraceRecord record = SampleRecords::record(time, u"basic"_s, cpuId, exitCode);
    record.station = station;
    return record;
}

// Basic actions of one station and day, a second apart, appended as its journal appends them.
QList<QByteArray> append(
    const QString &directory, const QString &station, const QStringList &cpuIds, int day, int exitCode = 0)
{
    QList<TraceRecord> actions;
    for (qsizetype i = 0; i < cpuIds.size(); ++i)
        actions.append(record(station, utc(day, int(i)), cpuIds[i], exitCode));
    return SampleRecords::journalRecords(directory, actions);
}

// A chain of record lines as one day's file holds them, one CPU id each.
QList<QByteArray> chain(const QString &station, int day, int count, const QString &cpuPrefix = u"c4a1"_s)
{
    QStringList cpuIds;
    for (int seq = 1; seq <= count; ++seq)
        cpuIds.append(cpuPrefix + u"%1"_s.arg(seq, 4, 16, zero));
    const QTemporaryDir directory;
    return append(directory.path(), station, cpuIds, day);
}

} // namespace

Q_DECLARE_METATYPE(LineClaim::Outcome)

class LineTest : public QObject
{
    Q_OBJECT

    LineTestServer server;
    std::unique_ptr<LineDatabase> admin;

    // The first value of the first row, or the error.
    QString scalar(const QString &sql, const QStringList &params = {})
    {
        const LineDatabase::Result result = admin->exec(sql, params);
        return result.ok ? result.rows.value(0).value(0) : u"error: "_s + result.error;
    }

    std::unique_ptr<LineStation> station(const QString &user, const QString &directory = QDir::tempPath())
    {
        return std::make_unique<LineStation>(server.conninfo(user), directory, LineOfflinePolicy::Refuse);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(server.start() && server.initSchema(), qPrintable(server.error()));
        admin = std::make_unique<LineDatabase>(server.conninfo());
        QVERIFY(server.createLogin(u"st1"_s, u"pw 1"_s, u"korvane_station"_s));
        QVERIFY(server.createLogin(u"st2"_s, u"pw:2"_s, u"korvane_station"_s));
        QVERIFY(server.createLogin(u"sup"_s, u"pw3"_s, u"korvane_supervisor"_s));
        QCOMPARE(scalar(u"CREATE DATABASE bare"_s), QString());
    }

    void silentServerCostsOneTimeout_data()
    {
        QTest::addColumn<bool>("serverBehind");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("atLeast");
        QTest::newRow("alone") << false << 700 << 650;
        // A primary gone silent before its standby: the standby gets its share of the time.
        QTest::newRow("first of two hosts") << true << 2000 << 950;
    }
    void silentServerCostsOneTimeout()
    {
        QFETCH(bool, serverBehind);
        QFETCH(int, timeout);
        QFETCH(int, atLeast);
        LineTestServer silent(LineTestServer::Silent);
        QVERIFY2(silent.start(), qPrintable(silent.error()));
        const QString both = QString(server.conninfo(u"st1"_s))
                                 .replace(QRegularExpression(u"host=\\S+ port=(\\d+)"_s),
                                     u"host=127.0.0.1,127.0.0.1 port=%1,\\1"_s.arg(silent.port()));
        LineDatabase database(serverBehind ? both : u"host=127.0.0.1 port=%1 user=x"_s.arg(silent.port()),
            std::chrono::milliseconds(timeout));
        // Connecting, and a statement that connects first.
        for (int call = 0; call < 2; ++call) {
            database.disconnect();
            QElapsedTimer timer;
            timer.start();
            QString reason;
            const bool done = call == 0 ? database.connect(&reason) : database.exec(u"SELECT 1"_s).ok;
            QVERIFY2(done == serverBehind, qPrintable(reason));
            QVERIFY2(timer.elapsed() >= atLeast && timer.elapsed() < timeout + 1000,
                qPrintable(QString::number(timer.elapsed())));
        }
    }

    void schemaMissingOrNewerIsRefused_data()
    {
        QTest::addColumn<int>("version"); // 0: no schema
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << 0 << u"line database schema missing (run korvane-line init)"_s;
        QTest::newRow("newer") << 2 << u"line database schema version 2 is newer than this program (1)"_s;
    }
    void schemaMissingOrNewerIsRefused()
    {
        QFETCH(int, version);
        QFETCH(QString, reason);
        const QString name = version > 0 ? u"newer"_s : u"bare"_s;
        if (version > 0)
            QCOMPARE(scalar(u"CREATE DATABASE newer"_s), QString());
        LineDatabase database(server.conninfo({}, name));
        QString found;
        if (version > 0) {
            QVERIFY2(LineSchema::init(database, false, nullptr, &found), qPrintable(found));
            QVERIFY(
                database.exec(u"UPDATE korvane.schema_info SET version = $1"_s, { QString::number(version) })
                    .ok);
            database.disconnect();
            QVERIFY(!LineSchema::init(database, false, nullptr, &found));
            QCOMPARE(found, reason);
        }
        QVERIFY(!database.connect(&found));
        QCOMPARE(found, reason);
        LineStation line(server.conninfo({}, name), QDir::tempPath(), LineOfflinePolicy::Refuse);
        const LineClaim claim = line.claim(record(u"Bench"_s, utc(1), u"ab"_s), false);
        QCOMPARE(claim.outcome, LineClaim::Outcome::Unreachable);
        QCOMPARE(claim.reason, reason);
    }

    void initAgainChangesNothing()
    {
        const QString snapshot
            = u"SELECT string_agg(x, ',' ORDER BY x) FROM ("
              " SELECT c.oid || c.relname || coalesce(c.relacl::text, '') FROM pg_class c"
              "  JOIN pg_namespace n ON n.oid = relnamespace WHERE nspname = 'korvane'"
              " UNION ALL SELECT p.oid || proname || coalesce(proacl::text, '') || md5(prosrc)"
              "  FROM pg_proc p JOIN pg_namespace n ON n.oid = pronamespace WHERE nspname = 'korvane'"
              " UNION ALL SELECT oid || rolname FROM pg_roles WHERE rolname LIKE 'korvane%'"
              " UNION ALL SELECT xmin || ' ' || version FROM korvane.schema_info"
              " UNION ALL SELECT nspacl::text FROM pg_namespace WHERE nspname = 'korvane') s(x)"_s;
        const QString before = scalar(snapshot);
        QVERIFY(before.contains("claim_cpu_id"_L1));
        QStringList done;
        QString reason;
        QVERIFY2(LineSchema::init(*admin, true, &done, &reason), qPrintable(reason));
        QCOMPARE(scalar(snapshot), before);
        QVERIFY(done.value(0).contains("already there"_L1));
    }

    // A claim made while the upload that settles the open claim as written is under way
    // waits for it, then finds the write: it never takes the CPU id.
    void claimDuringASettleFindsTheWrite()
    {
        const QByteArray line = chain(u"Settler"_s, 3, 1, u"5e77"_s).constFirst();
        const TraceRecord action = *Trace::parseLine(line).record;
        QCOMPARE(station(u"st1"_s)->claim(action, false).outcome, LineClaim::Outcome::Claimed);
        LineDatabase settling(server.conninfo(u"st1"_s));
        QVERIFY(settling.exec(u"BEGIN"_s).ok);
        QVERIFY(
            settling
                .exec(u"SELECT korvane.upload_record($1::date, $2)"_s, { dayOf(3), QString::fromUtf8(line) })
                .ok);

        LineClaim claim;
        const auto second = station(u"st2"_s);
        QThread *claiming = QThread::create(
            [&] { claim = second->claim(record(u"Other"_s, utc(4), *action.cpuId), false); });
        claiming->start();
        QTRY_COMPARE(
            scalar(
                u"SELECT count(*) FROM pg_stat_activity WHERE usename = 'st2' AND wait_event_type = 'Lock'"_s),
            u"1"_s);
        QVERIFY(settling.exec(u"COMMIT"_s).ok);
        QVERIFY(claiming->wait(10000));
        delete claiming;
        QCOMPARE(claim.outcome, LineClaim::Outcome::AlreadyWritten);
        QCOMPARE(claim.station, u"Settler"_s);
        QCOMPARE(scalar(u"SELECT count(*) FROM korvane.claims WHERE station = 'Other'"_s), u"0"_s);
    }

    void uploadSettlesTheClaim_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("takeWhenWritten");
        QTest::addColumn<QString>("state");
        QTest::addColumn<LineClaim::Outcome>("next");
        QTest::addColumn<int>("openAfter");
        QTest::newRow("written") << 0 << false << u"written"_s << LineClaim::Outcome::AlreadyWritten << 0;
        QTest::newRow("written, taken anyway")
            << 0 << true << u"written"_s << LineClaim::Outcome::AlreadyWritten << 1;
        QTest::newRow("failed, retried") << 7 << false << u"failed"_s << LineClaim::Outcome::Claimed << 1;
    }
    void uploadSettlesTheClaim()
    {
        QFETCH(int, exitCode);
        QFETCH(bool, takeWhenWritten);
        QFETCH(QString, state);
        QFETCH(LineClaim::Outcome, next);
        QFETCH(int, openAfter);
        const QString cpu = u"5e771e%1"_s.arg(exitCode + takeWhenWritten, 2, 10, zero);
        QTemporaryDir trace;
        const auto line = station(u"st1"_s, trace.path());
        // A station of its own: each row's record is the first of its day.
        const TraceRecord action
            = record(QString::fromLatin1(QTest::currentDataTag()), utc(5), cpu, exitCode);
        QCOMPARE(line->claim(action, false).outcome, LineClaim::Outcome::Claimed);
        QVERIFY(!append(trace.path(), action.station, { cpu }, 5, exitCode).isEmpty());
        const LineState after = line->uploadWaiting();
        QVERIFY2(after.online && after.waiting == 0, qPrintable(after.reason));
        QCOMPARE(scalar(u"SELECT state FROM korvane.claims WHERE cpu_id = $1"_s, { cpu }), state);

        const LineClaim claim = station(u"st2"_s)->claim(record(u"Bench B"_s, utc(6), cpu), takeWhenWritten);
        QCOMPARE(claim.outcome, next);
        if (next == LineClaim::Outcome::AlreadyWritten)
            QCOMPARE(claim.time + claim.station, action.time + action.station);
        QCOMPARE(
            scalar(u"SELECT count(*) FROM korvane.claims WHERE cpu_id = $1 AND state = 'open'"_s, { cpu }),
            QString::number(openAfter));
    }

    // Another login, or the claiming login for another station, uploading a record that
    // names the claim does not settle it.
    void onlyTheClaimingStationSettles()
    {
        TraceRecord action = record(u"Bench A"_s, utc(7), u"0707"_s);
        QCOMPARE(station(u"st1"_s)->claim(action, false).outcome, LineClaim::Outcome::Claimed);
        action.seq = 1;
        action.prev = Trace::firstPrev;
        for (const QString &user : { u"st2"_s, u"st1"_s }) {
            action.station = user == "st1"_L1 ? u"Bench B"_s : u"Bench A"_s;
            LineDatabase uploader(server.conninfo(user));
            QCOMPARE(LineUpload::uploadLine(uploader, dayOf(7), Trace::formatLine(action)).outcome,
                LineUpload::Answer::Outcome::Stored);
            QCOMPARE(scalar(u"SELECT state FROM korvane.claims WHERE cpu_id = '0707'"_s), u"open"_s);
        }
    }

    void brokenChainsStoreNothing_data()
    {
        QTest::addColumn<QString>("day");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("why");
        const QList<QByteArray> lines = chain(u"Chain"_s, 8, 3);
        const QList<QByteArray> other = chain(u"Chain"_s, 8, 5, u"dead"_s);
        QTest::newRow("another line, same seq")
            << dayOf(8) << other[1] << u"differs from the stored record"_s;
        QTest::newRow("prev not the stored")
            << dayOf(8) << other[3] << u"prev does not match the stored record 3"_s;
        QTest::newRow("record before missing") << dayOf(8) << other[4] << u"record 4 is missing"_s;
        QTest::newRow("first record chained")
            << dayOf(9) << QByteArray(lines[1]).replace("\"seq\":2", "\"seq\":1")
            << u"the first record's prev is not zeros"_s;
    }
    void brokenChainsStoreNothing()
    {
        QFETCH(QString, day);
        QFETCH(QByteArray, line);
        QFETCH(QString, why);
        LineDatabase uploader(server.conninfo(u"st1"_s));
        for (const QByteArray &stored : chain(u"Chain"_s, 8, 3))
            QVERIFY(LineUpload::uploadLine(uploader, dayOf(8), stored).outcome
                != LineUpload::Answer::Outcome::Failed);
        const QString records
            = u"SELECT string_agg(seq || hash || uploaded, ',' ORDER BY seq) FROM korvane.records WHERE station = 'Chain'"_s;
        const QString before = scalar(records);
        for (int attempt = 0; attempt < 2; ++attempt) {
            const LineUpload::Answer answer = LineUpload::uploadLine(uploader, day, line);
            QCOMPARE(answer.outcome, LineUpload::Answer::Outcome::Broken);
            QCOMPARE(answer.why, why);
        }
        QCOMPARE(scalar(records), before);
        QCOMPARE(scalar(u"SELECT count(*) FROM korvane.broken_chains WHERE line = $1"_s,
                     { QString::fromUtf8(line) }),
            u"1"_s);
    }

    void rolesHoldTheLeastRights_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("allowed");
        const auto row = [](const char *name, const char *user, const char *sql, bool allowed) {
            QTest::newRow(name) << QString::fromLatin1(user) << QString::fromLatin1(sql) << allowed;
        };
        row("station updates a record", "st1", "UPDATE korvane.records SET level = 'x'", false);
        row("station deletes a record", "st1", "DELETE FROM korvane.records", false);
        row("station reads records", "st1", "SELECT count(*) FROM korvane.records", false);
        row("station inserts a claim", "st1",
            "INSERT INTO korvane.claims (cpu_id, station, since, state) VALUES ('1', 'x', 'y', 'open')",
            false);
        row("station settles a claim", "st1", "UPDATE korvane.claims SET state = 'written'", false);
        row("station releases", "st1", "SELECT korvane.release_claim('1', 'x')", false);
        row("station reads claims", "st1", "SELECT count(*) FROM korvane.claims", true);
        row("supervisor releases", "sup", "SELECT korvane.release_claim('1', 'x')", true);
        row("supervisor claims", "sup", "SELECT korvane.claim_cpu_id('1', 'x', 'y', 'h', 1, false)", false);
    }
    void rolesHoldTheLeastRights()
    {
        QFETCH(QString, user);
        QFETCH(QString, sql);
        QFETCH(bool, allowed);
        LineDatabase database(server.conninfo(user));
        const LineDatabase::Result result = database.exec(sql);
        QCOMPARE(result.ok, allowed);
        QCOMPARE(result.sqlState, allowed ? QString() : u"42501"_s);
    }

    // What waits is known from the files and the cursor alone; uploading again changes nothing.
    void cursorCountsWhatWaits()
    {
        QTemporaryDir trace;
        QVERIFY(!append(trace.path(), u"Cursor"_s, { u"c0c001"_s, u"c0c002"_s, u"c0c003"_s }, 12).isEmpty());
        QFile cut(Trace::filesIn(trace.path()).constFirst());
        QVERIFY(cut.open(QIODevice::Append) && cut.write("{\"seq\":4,\"time\":\"2024") > 0);
        cut.close();

        LineStation offline(u"host=127.0.0.1 port=1 user=x"_s, trace.path(), LineOfflinePolicy::Local, 2s);
        const LineState unreachable = offline.uploadWaiting();
        QVERIFY(!unreachable.online && !unreachable.reason.isEmpty() && unreachable.waiting == 3);

        const QString records
            = u"SELECT string_agg(seq || hash || uploaded, ',' ORDER BY seq) FROM korvane.records WHERE station = 'Cursor'"_s;
        const auto line = station(u"st1"_s, trace.path());
        QSignalSpy changed(line.get(), &LineStation::stateChanged);
        QCOMPARE(line->uploadWaiting().waiting, 0);
        QCOMPARE(changed.size(), 1);
        const QString before = scalar(records);
        QCOMPARE(before.count(u','), 2);
        // A cursor cut short, as a power cut may leave it, is no cursor: all is sent again.
        QFile cursor(LineUpload::cursorPath(trace.path()));
        QVERIFY(cursor.resize(cursor.size() / 2));
        QCOMPARE(LineUpload::countWaiting(trace.path(), LineUpload::readCursor(trace.path())), 3);
        const auto again = station(u"st1"_s, trace.path());
        QCOMPARE(again->uploadWaiting().waiting, 0);
        QCOMPARE(scalar(records), before);
        // Replaced in place, nothing left beside it.
        QCOMPARE(LineUpload::countWaiting(trace.path(), LineUpload::readCursor(trace.path())), 0);
        QCOMPARE(QDir(trace.path()).entryList({ u"line-upload*"_s }, QDir::Files),
            QStringList { u"line-upload.json"_s });
    }

    // Against a silent server; the window's label going online once one answers is tst_linestations'.
    void backgroundUploadsLeaveTheCallerFree()
    {
        QTemporaryDir trace;
        QVERIFY(!append(trace.path(), u"Background"_s, { u"bb01"_s }, 13).isEmpty());
        LineTestServer silent(LineTestServer::Silent);
        QVERIFY2(silent.start(), qPrintable(silent.error()));
        QElapsedTimer timer;
        timer.start();
        {
            LineStation line(u"host=127.0.0.1 port=%1 user=x"_s.arg(silent.port()), trace.path(),
                LineOfflinePolicy::Local);
            // Reading the trace is the background's too: a long one does not hold up the start.
            QCOMPARE(line.state().waiting, -1);
            // The states as the window gets them, on its thread.
            QObject window;
            QList<LineState> shown;
            connect(&line, &LineStation::stateChanged, &window,
                [&](const LineState &state) { shown.append(state); });
            line.startBackgroundUploads();
            QVERIFY(timer.elapsed() < 500);
            // What waits is known well before the server's timeout of 5 s.
            QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 4000);
            QVERIFY(!shown.constFirst().online && shown.constFirst().waiting == 1);
            QVERIFY(silent.waitForCaller(5000));
            timer.restart();
        }
        // Closing the window does not wait for the server, even in the middle of a call.
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    }

    void toolRefusesWrongCommandLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no command") << QStringList();
        QTest::newRow("unknown command") << QStringList { u"verify"_s };
        QTest::newRow("release without a reason") << QStringList { u"release"_s, u"ab"_s };
        QTest::newRow("json for find") << QStringList { u"find"_s, u"ab"_s, u"--json"_s };
        QTest::newRow("push without a folder") << QStringList { u"push"_s };
    }
    void toolRefusesWrongCommandLines()
    {
        QFETCH(QStringList, arguments);
        const CliRun run = runProgram(QStringLiteral(KORVANE_LINE_TOOL), arguments);
        QCOMPARE(run.status, 3);
        QVERIFY(run.err.join(u'\n').contains("korvane-line --help"_L1));
    }

    void toolWithoutAUsableDatabase_data()
    {
        QTest::addColumn<QString>("conninfo");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        QTest::newRow("nothing listens") << u"host=127.0.0.1 port=1 user=x"_s << 2 << QString();
        QTest::newRow("password") << u"host=127.0.0.1 password=y"_s << 2 << u"must not hold a password"_s;
        QTest::newRow("password in a URI")
            << u"postgresql://st:pw@127.0.0.1/k"_s << 2 << u"must not hold a password"_s;
        QTest::newRow("unknown keyword") << u"host=127.0.0.1 colour=blue"_s << 2 << u"colour"_s;
        QTest::newRow("no schema") << server.conninfo({}, u"bare"_s) << 1
                                   << u"schema missing (run korvane-line init)"_s;
    }
    void toolWithoutAUsableDatabase()
    {
        QFETCH(QString, conninfo);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        const CliRun run = runProgram(QStringLiteral(KORVANE_LINE_TOOL), { u"status"_s, u"--db"_s, conninfo });
        QCOMPARE(run.status, exitCode);
        QVERIFY2(run.err.join(u'\n').contains(error), qPrintable(run.err.join(u'\n')));
    }

    // A supervisor's scripts: from a new database to a line with findings, and their end.
    void toolFromInitToRelease()
    {
        QCOMPARE(scalar(u"CREATE DATABASE tool"_s), QString());
        const QString db = server.conninfo({}, u"tool"_s);
        const auto tool = [](QStringList arguments, const QString &conninfo) {
            return runProgram(QStringLiteral(KORVANE_LINE_TOOL), arguments << u"--db"_s << conninfo);
        };
        const auto status = [&](int exitCode) {
            const CliRun run = tool({ u"status"_s, u"--json"_s }, db);
            return run.status == exitCode ? QJsonDocument::fromJson(run.out.join(u'\n').toUtf8()).object()
                                          : QJsonObject();
        };
        QCOMPARE(tool({ u"init"_s, u"--roles"_s }, db).status, 0);
        const QString odd = u"Prüfplatz \"7\" 'Ü' C:\\bench — 東京"_s;
        QTemporaryDir first;
        QTemporaryDir second;
        QVERIFY(!append(first.path(), odd, { u"aa01"_s, u"aa02"_s }, 1).isEmpty());
        QVERIFY(!append(second.path(), u"Bench 2"_s, { u"aa02"_s }, 2).isEmpty());
        QVERIFY(tool({ u"push"_s, first.path() }, db).out.join(u'\n').contains("2 stored, 0 already there, 0 broken"_L1));
        CliRun run = tool({ u"push"_s, first.path() }, db);
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.join(u'\n').contains("0 stored, 2 already there, 0 broken"_L1));
        const QJsonArray stations = status(0).value("stations"_L1).toArray();
        QCOMPARE(stations.size(), 1);
        QCOMPARE(stations[0]["station"_L1].toString(), odd);
        QCOMPARE(stations[0]["records"_L1].toInteger(), 2);
        QCOMPARE(stations[0]["last_record"_L1].toString(), utc(1, 1));

        // A claim in doubt and a CPU id written on two stations are findings.
        LineDatabase line(server.conninfo(u"st1"_s, u"tool"_s));
        QVERIFY(
            line.exec(u"SELECT korvane.claim_cpu_id('bb01', $1, 'since', 'host', 1, false)"_s, { odd }).ok);
        // A record pushed with no claim behind it is a write all the same.
        QCOMPARE(line.exec(u"SELECT outcome FROM korvane.claim_cpu_id('aa01', 'B', 's', 'h', 1, false)"_s).rows,
            QList<QStringList> { { u"written"_s } });
        // Each on its own.
        QJsonObject json = status(4);
        QCOMPARE(json["in_doubt"_L1].toArray(),
            QJsonArray({ QJsonObject { { "cpu_id", "bb01" }, { "station", odd }, { "since", "since" } } }));
        QCOMPARE(tool({ u"push"_s, second.path() }, db).status, 0);
        json = status(4);
        QCOMPARE(json["written_twice"_L1].toArray(),
            QJsonArray(
                { QJsonObject { { "cpu_id", "aa02" }, { "stations", QJsonArray { odd, "Bench 2" } } } }));

        // Stations cannot release; a supervisor can, once.
        const QStringList release { u"release"_s, u"BB01"_s, u"--reason"_s, u"board checked"_s };
        QCOMPARE(tool(release, server.conninfo(u"st1"_s, u"tool"_s)).status, 1);
        QCOMPARE(tool(release, server.conninfo(u"sup"_s, u"tool"_s)).status, 0);
        QCOMPARE(tool(release, server.conninfo(u"sup"_s, u"tool"_s)).status, 1);
        json = status(4);
        QVERIFY(json["in_doubt"_L1].toArray().isEmpty());
        const QJsonObject released = json["released"_L1].toArray().at(0).toObject();
        QCOMPARE(QStringList({ released["by"_L1].toString(), released["reason"_L1].toString(),
                     released["station"_L1].toString() }),
            QStringList({ u"sup"_s, u"board checked"_s, odd }));

        run = tool({ u"find"_s, u"AA02"_s }, db);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.size(), 2);
        QVERIFY(run.out.join(u'\n').toUtf8().contains(Trace::jsonString(odd)));
        QCOMPARE(tool({ u"find"_s, u"ffff"_s }, db).status, 1);
        const QByteArray foundClaim = tool({ u"find"_s, u"bb01"_s }, db).out.join(u'\n').toUtf8();
        QVERIFY2(foundClaim.startsWith(R"({"claim":"bb01","state":"released",)"), foundClaim.constData());
        const QJsonObject claim = QJsonDocument::fromJson(foundClaim).object();
        QCOMPARE(claim["state"_L1].toString() + claim["by"_L1].toString(), u"releasedsup"_s);
    }
};

KORVANE_LINE_TEST_MAIN(LineTest, QCoreApplication)
#include "tst_line.moc"
