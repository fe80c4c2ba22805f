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
    std::unique_ptr<LineTestServer> server;
};

void TestLineTestServer::initTestCase()
{
    QString why;
    if (!LineTestServer::isAvailable(&why))
        QSKIP(qPrintable(why));
    server = std::make_unique<LineTestServer>();
    QVERIFY2(server->start(), qPrintable(server->error()));
    // Membership of a role is the line tests' to see: their stations' rights stand on it.
    QVERIFY2(server->createLogin(stationLogin, stationPassword), qPrintable(server->error()));
}

void TestLineTestServer::connections_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("extra"); // later keywords override earlier ones
    QTest::addColumn<bool>("connects");
    QTest::addColumn<QString>("expected"); // the query's answer, or a part of the error

    const QString admin = LineTestServer::adminUser();
    QTest::newRow("admin, verify-full") << admin << QString() << true << "true korvane_admin";
    QTest::newRow("host name in the certificate") << admin << "host=localhost" << true << "true korvane_admin";
    QTest::newRow("without TLS, refused") << admin << "sslmode=disable" << false << "no encryption";
    QTest::newRow("wrong password") << admin << "password=wrong" << false << "password authentication failed";
    QTest::newRow("added login, password from the pass file")
        << stationLogin << QString() << true << "true station 3";
}

void TestLineTestServer::connections()
{
    QFETCH(QString, user);
    QFETCH(QString, extra);
    QFETCH(bool, connects);
    QFETCH(QString, expected);

    const Answer answer = ask(server->conninfo(user) + QLatin1Char(' ') + extra,
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
