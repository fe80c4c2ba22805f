// The throwaway servers the line database's tests stand on: what they accept and refuse, and
// the outage steps. Under Wine this is also libpq for Windows against the Linux servers.
#include "linetestmain.h"
#include "linetestserver.h"

#include <QtTest>

#include <libpq-fe.h>

#include <memory>

namespace {

struct Answer
{
    bool connected = false;
    QString value; // the first field of the first row
    QString error;
};

Answer ask(const QString &conninfo, const QString &sql)
{
    Answer answer;
    const QByteArray info = (conninfo + QStringLiteral(" connect_timeout=30")).toUtf8();
    PGconn *connection = PQconnectdb(info.constData());
    if (PQstatus(connection) != CONNECTION_OK) {
        answer.error = QString::fromUtf8(PQerrorMessage(connection)).trimmed();
        PQfinish(connection);
        return answer;
    }
    answer.connected = true;
    PGresult *result = PQexec(connection, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_TUPLES_OK && PQntuples(result) > 0)
        answer.value = QString::fromUtf8(PQgetvalue(result, 0, 0));
    else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        answer.error = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
    PQclear(result);
    PQfinish(connection);
    return answer;
}

// Answers of a server that must work; fails the test otherwise.
#define ASK(conninfo, sql, expected)                                                                     \
    do {                                                                                                 \
        const Answer answer_ = ask(conninfo, sql);                                                       \
        QVERIFY2(answer_.connected &&answer_.error.isEmpty(), qPrintable(answer_.error));                \
        QCOMPARE(answer_.value, QString(expected));                                                      \
    } while (false)

const QString stationLogin = QStringLiteral("station 3");
// A colon, a backslash and a quote: pgpass and SQL quoting both matter.
const QString stationPassword = QStringLiteral("pa:ss\\wo'rd");

} // namespace

class TestLineTestServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connections_data();
    void connections();
    void restartKeepsPortAndData();
    void standbyTakesOverWhenPromoted();

private:
    std::unique_ptr<LineTestServer> tlsOnly;
    std::unique_ptr<LineTestServer> plainToo;
};

void TestLineTestServer::initTestCase()
{
    QString why;
    if (!LineTestServer::isAvailable(&why))
        QSKIP(qPrintable(why));
    tlsOnly = std::make_unique<LineTestServer>();
    plainToo = std::make_unique<LineTestServer>(LineTestServer::AllowPlain);
    QVERIFY2(tlsOnly->start(), qPrintable(tlsOnly->error()));
    QVERIFY2(plainToo->start(), qPrintable(plainToo->error()));
    QVERIFY(tlsOnly->port() != plainToo->port());
    ASK(tlsOnly->adminConninfo(), QStringLiteral("CREATE ROLE korvane_station NOLOGIN"), QString());
    QVERIFY2(tlsOnly->createLogin(stationLogin, stationPassword, QStringLiteral("korvane_station")),
        qPrintable(tlsOnly->error()));
    ASK(tlsOnly->adminConninfo(), QStringLiteral("SELECT pg_has_role('station 3', 'korvane_station', 'MEMBER')"),
        QStringLiteral("t"));
}

void TestLineTestServer::connections_data()
{
    QTest::addColumn<bool>("plainAllowed");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("extra"); // later keywords override earlier ones
    QTest::addColumn<bool>("connects");
    QTest::addColumn<QString>("expected"); // the query's answer, or a part of the error

    const QString admin = LineTestServer::adminUser();
    QTest::newRow("admin, verify-full") << false << admin << QString() << true << "true korvane_admin";
    QTest::newRow("host name in the certificate")
        << false << admin << "host=localhost" << true << "true korvane_admin";
    QTest::newRow("certificate of another CA")
        << false << admin << "sslrootcert=%other" << false << "certificate verify failed";
    QTest::newRow("without TLS, refused") << false << admin << "sslmode=disable" << false << "no encryption";
    QTest::newRow("without TLS, allowed") << true << admin << "sslmode=disable" << true << "false korvane_admin";
    QTest::newRow("wrong password")
        << false << admin << "password=wrong" << false << "password authentication failed";
    QTest::newRow("added login, password from the pass file")
        << false << stationLogin << QString() << true << "true station 3";
}

void TestLineTestServer::connections()
{
    QFETCH(bool, plainAllowed);
    QFETCH(QString, user);
    QFETCH(QString, extra);
    QFETCH(bool, connects);
    QFETCH(QString, expected);

    const LineTestServer &server = plainAllowed ? *plainToo : *tlsOnly;
    extra.replace(QStringLiteral("%other"), server.otherRootCertificate());
    const Answer answer = ask(server.conninfo(user) + QLatin1Char(' ') + extra,
        QStringLiteral("SELECT ssl::text || ' ' || current_user FROM pg_stat_ssl WHERE pid = pg_backend_pid()"));
    QCOMPARE(answer.connected, connects);
    if (connects) {
        QVERIFY2(answer.error.isEmpty(), qPrintable(answer.error));
        QCOMPARE(answer.value, expected);
    } else {
        QVERIFY2(answer.error.contains(expected), qPrintable(answer.error));
    }
}

void TestLineTestServer::restartKeepsPortAndData()
{
    LineTestServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    const int port = server.port();
    ASK(server.adminConninfo(), QStringLiteral("CREATE TABLE kept AS SELECT 42 AS answer"), QString());
    QVERIFY2(server.stop(), qPrintable(server.error()));
    QVERIFY2(server.stop(), "a second stop must be harmless");
    QVERIFY(!ask(server.adminConninfo(), QStringLiteral("SELECT 1")).connected);
    QVERIFY2(server.start(), qPrintable(server.error()));
    QCOMPARE(server.port(), port);
    ASK(server.adminConninfo(), QStringLiteral("SELECT answer FROM kept"), QStringLiteral("42"));
}

void TestLineTestServer::standbyTakesOverWhenPromoted()
{
    LineTestServer server(LineTestServer::Standby);
    QVERIFY2(server.start(), qPrintable(server.error()));
    const QString admin = LineTestServer::adminUser();
    QVERIFY(server.standbyPort() != 0 && server.standbyPort() != server.port());
    ASK(server.conninfo(admin), QStringLiteral("SELECT sync_state FROM pg_stat_replication"), QStringLiteral("sync"));
    ASK(server.multiHostConninfo(admin),
        QStringLiteral("CREATE TABLE t AS SELECT inet_server_port()::text AS port"), QString());
    ASK(server.multiHostConninfo(admin), QStringLiteral("SELECT port FROM t"), QString::number(server.port()));

    QVERIFY2(server.stopPrimary(), qPrintable(server.error()));
    const Answer readOnly = ask(server.multiHostConninfo(admin), QStringLiteral("SELECT 1"));
    QVERIFY2(!readOnly.connected && readOnly.error.contains(QStringLiteral("read-only")), qPrintable(readOnly.error));

    QVERIFY2(server.promote(), qPrintable(server.error()));
    // Committed synchronously, so the row survived the primary's crash.
    const Answer promoted = ask(server.multiHostConninfo(admin),
        QStringLiteral("INSERT INTO t VALUES ('after'); SELECT inet_server_port()::text || ' ' || count(*) FROM t"));
    QVERIFY2(promoted.connected && promoted.error.isEmpty(), qPrintable(promoted.error));
    QCOMPARE(promoted.value, QStringLiteral("%1 2").arg(server.standbyPort()));

    // Starting again must not bring back the old primary beside the promoted one.
    QVERIFY2(server.start(), qPrintable(server.error()));
    QVERIFY(!ask(server.conninfo(admin), QStringLiteral("SELECT 1")).connected);
    ASK(server.multiHostConninfo(admin), QStringLiteral("SELECT count(*) FROM t"), QStringLiteral("2"));
}

KORVANE_LINE_TEST_MAIN(TestLineTestServer, QCoreApplication)
#include "tst_linetestserver.moc"
