#include "linedatabase.h"
#include "linetestserver.h"
#include "tracejournal.h"
#include "tracerecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QString errors;
};

Run runTool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(KORVANE_LINE_TOOL), arguments);
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// One station's trace folder with one successful Basic action per CPU id.
bool writeTrace(const QString &directory, const QString &station, const QStringList &cpuIds)
{
    TraceJournal journal(directory);
    for (qsizetype i = 0; i < cpuIds.size(); ++i) {
        TraceRecord record;
        record.time = QStringLiteral("2024-03-01T10:00:%1.000Z").arg(i, 2, 10, QLatin1Char('0'));
        record.station = station;
        record.tool = QStringLiteral("Korvane 1.0.0");
        record.plugin = QStringLiteral("korvane_aes.dll");
        record.pluginSha256 = Trace::sha256Hex("plugin");
        record.level = QStringLiteral("basic");
        record.board = QStringLiteral("Maskrom");
        record.cpuId = cpuIds[i];
        if (!journal.append(record))
            return false;
    }
    return true;
}

} // namespace

class LineToolTest : public QObject
{
    Q_OBJECT

    LineTestServer server;

    QJsonObject status(int expectedExit)
    {
        const Run run = runTool({ QStringLiteral("--db"), server.conninfo(), QStringLiteral("status"),
            QStringLiteral("--json") });
        if (run.exitCode != expectedExit)
            qWarning("status exited %d: %s", run.exitCode, qPrintable(run.errors));
        return run.exitCode == expectedExit ? QJsonDocument::fromJson(run.out).object() : QJsonObject();
    }

private slots:
    void wrongCommandLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no command") << QStringList();
        QTest::newRow("unknown command") << QStringList { "verify" };
        QTest::newRow("release without a reason") << QStringList { "release", "ab" };
        QTest::newRow("release with a blank reason") << QStringList { "release", "ab", "--reason", " " };
        QTest::newRow("json for find") << QStringList { "find", "ab", "--json" };
        QTest::newRow("roles for status") << QStringList { "status", "--roles" };
        QTest::newRow("push without a folder") << QStringList { "push" };
        QTest::newRow("unknown option") << QStringList { "status", "--colour" };
    }
    void wrongCommandLines()
    {
        QFETCH(QStringList, arguments);
        const Run run = runTool(arguments);
        QCOMPARE(run.exitCode, 3);
        QVERIFY(run.errors.contains(QLatin1String("korvane-line --help")));
    }

    void initTestCase()
    {
#ifdef Q_OS_WIN
        QSKIP("the test servers run on Linux");
#endif
        QVERIFY2(server.start(), qPrintable(server.error()));
    }

    void withoutAUsableDatabase_data()
    {
        QTest::addColumn<QString>("conninfo");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        QTest::newRow("nothing listens")
            << QStringLiteral("host=127.0.0.1 port=%1 user=x").arg(closedPort()) << 2 << "";
        QTest::newRow("password given")
            << "host=127.0.0.1 user=x password=y" << 2 << "must not hold a password";
        QTest::newRow("no schema") << server.conninfo() << 1 << "schema missing (run korvane-line init)";
    }
    void withoutAUsableDatabase()
    {
        QFETCH(QString, conninfo);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        const Run run = runTool({ QStringLiteral("status"), QStringLiteral("--db"), conninfo });
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.errors.contains(error), qPrintable(run.errors));
    }

    // From a new database to a line with findings, and back to a clean status.
    void aLineFromStartToRelease()
    {
        const QString db = server.conninfo();
        Run run = runTool({ QStringLiteral("init"), QStringLiteral("--roles"), QStringLiteral("--db"), db });
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(runTool({ QStringLiteral("init"), QStringLiteral("--db"), db }).exitCode, 0);
        QVERIFY(server.createLogin(
            QStringLiteral("st1"), QStringLiteral("one"), QStringLiteral("korvane_station")));
        QVERIFY(server.createLogin(
            QStringLiteral("sup"), QStringLiteral("two"), QStringLiteral("korvane_supervisor")));

        const QString odd = QStringLiteral("Prüfplatz \"7\" — Linie Ü");
        QTemporaryDir first;
        QTemporaryDir second;
        QVERIFY(writeTrace(first.path(), odd, { QStringLiteral("aa01"), QStringLiteral("aa02") }));
        QVERIFY(writeTrace(second.path(), QStringLiteral("Bench 2"), { QStringLiteral("aa02") }));
        run = runTool({ QStringLiteral("push"), first.path(), QStringLiteral("--db"), db });
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains("2 stored, 0 already there, 0 broken"));
        run = runTool({ QStringLiteral("push"), first.path(), QStringLiteral("--db"), db });
        QVERIFY(run.out.contains("0 stored, 2 already there, 0 broken"));

        QJsonObject json = status(0);
        QCOMPARE(json.value(QLatin1String("stations")).toArray().size(), 1);
        const QJsonObject station = json.value(QLatin1String("stations")).toArray().at(0).toObject();
        QCOMPARE(station.value(QLatin1String("station")).toString(), odd);
        QCOMPARE(station.value(QLatin1String("records")).toInteger(), 2);
        QCOMPARE(station.value(QLatin1String("last_record")).toString(),
            QStringLiteral("2024-03-01T10:00:01.000Z"));

        // A claim in doubt and a CPU id written on two stations are findings.
        LineDatabase line(server.conninfo(QStringLiteral("st1")));
        QVERIFY(
            line.exec(QStringLiteral("SELECT korvane.claim_cpu_id('bb01', $1, 'since', 'host', 1, false)"),
                    { odd })
                .ok);
        QCOMPARE(runTool({ QStringLiteral("push"), second.path(), QStringLiteral("--db"), db }).exitCode, 0);
        json = status(4);
        QCOMPARE(json.value(QLatin1String("in_doubt")).toArray(),
            QJsonArray({ QJsonObject { { "cpu_id", "bb01" }, { "station", odd }, { "since", "since" } } }));
        QCOMPARE(json.value(QLatin1String("written_twice")).toArray(),
            QJsonArray(
                { QJsonObject { { "cpu_id", "aa02" }, { "stations", QJsonArray { "Bench 2", odd } } } }));

        // Stations cannot release; a supervisor can, once.
        const QStringList release { QStringLiteral("release"), QStringLiteral("BB01"),
            QStringLiteral("--reason"), QStringLiteral("board checked") };
        run = runTool(
            release + QStringList { QStringLiteral("--db"), server.conninfo(QStringLiteral("st1")) });
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(
            runTool(release + QStringList { QStringLiteral("--db"), server.conninfo(QStringLiteral("sup")) })
                .exitCode,
            0);
        QCOMPARE(
            runTool(release + QStringList { QStringLiteral("--db"), server.conninfo(QStringLiteral("sup")) })
                .exitCode,
            1);
        json = status(4);
        QVERIFY(json.value(QLatin1String("in_doubt")).toArray().isEmpty());
        const QJsonObject released = json.value(QLatin1String("released")).toArray().at(0).toObject();
        QCOMPARE(released.value(QLatin1String("by")).toString(), QStringLiteral("sup"));
        QCOMPARE(released.value(QLatin1String("reason")).toString(), QStringLiteral("board checked"));
        QCOMPARE(released.value(QLatin1String("station")).toString(), odd);

        run = runTool({ QStringLiteral("find"), QStringLiteral("AA02"), QStringLiteral("--db"), db });
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out.count('\n'), 2);
        QVERIFY(run.out.contains(Trace::jsonString(odd)));
        QCOMPARE(
            runTool({ QStringLiteral("find"), QStringLiteral("ffff"), QStringLiteral("--db"), db }).exitCode,
            1);
        run = runTool({ QStringLiteral("find"), QStringLiteral("bb01"), QStringLiteral("--db"), db });
        const QJsonObject claim = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(claim.value(QLatin1String("state")).toString(), QStringLiteral("released"));
        QCOMPARE(claim.value(QLatin1String("by")).toString(), QStringLiteral("sup"));
    }
};

QTEST_GUILESS_MAIN(LineToolTest)
#include "tst_linetool.moc"
