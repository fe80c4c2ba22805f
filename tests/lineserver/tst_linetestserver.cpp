// The throwaway servers the line database's tests stand on: what they accept and refuse. Their
// outage steps and a certificate of another CA are the line tests' own cases (tests/line).
// Under Wine this is also libpq for Windows against the Linux servers.
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
    ASK(tlsOnly->conninfo(), QStringLiteral("CREATE ROLE korvane_station NOLOGIN"), QString());
    QVERIFY2(tlsOnly->createLogin(stationLogin, stationPassword, QStringLiteral("korvane_station")),
        qPrintable(tlsOnly->error()));
    ASK(tlsOnly->conninfo(), QStringLiteral("SELECT pg_has_role('station 3', 'korvane_station', 'MEMBER')"),
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

KORVANE_LINE_TEST_MAIN(TestLineTestServer, QCoreApplication)
#include "tst_linetestserver.moc"
