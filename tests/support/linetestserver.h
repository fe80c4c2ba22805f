#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A throwaway PostgreSQL 15 server for one test, made by scripts/line-server.sh: database
// "korvane", superuser korvane_admin, SCRAM passwords, TLS only (verify-full against a CA of
// its own), 127.0.0.1 on a port of its own. Optionally a synchronous streaming standby.
//
// On Linux the script runs in a temporary directory of this object. A Windows test cannot run
// it: there ctest starts a broker beside the test (korvane_add_line_test in tests/CMakeLists.txt)
// and passes its folder in KORVANE_TEST_LINE_BROKER; the broker runs the script on this
// object's behalf, in a folder under its own. Either way every object has servers of its own,
// and the servers are stopped when it is destroyed (or, on Linux, when the test process ends).
//
// Connection strings carry no password: it is in passFile(), which libpq reads (passfile=).
class LineTestServer
{
public:
    enum Option {
        NoOption = 0,
        Standby = 0x1, // also a synchronous standby; multiHostConninfo() names both
        Silent = 0x2, // no PostgreSQL: a server that hangs, on port()
    };

    explicit LineTestServer(int options = NoOption);
    ~LineTestServer();
    LineTestServer(const LineTestServer &) = delete;
    LineTestServer &operator=(const LineTestServer &) = delete;

    // The first start makes the servers (about a second); later ones start those that were
    // stopped again, on the same ports. After promote() the old primary stays down.
    bool start();
    bool stop() { return run({ QStringLiteral("stop"), scriptDirectory }); }
    // The primary ends at once, as in a crash; the standby stays.
    bool stopPrimary() { return run({ QStringLiteral("stop-primary"), scriptDirectory }); }
    bool stopStandby() { return run({ QStringLiteral("stop-standby"), scriptDirectory }); }
    bool promote() { return run({ QStringLiteral("promote"), scriptDirectory }); }
    // A login role NAME with PASSWORD (member of ROLE when given) and its password in passFile().
    bool createLogin(const QString &name, const QString &password, const QString &role = QString());
    // The line database's schema and its roles, as korvane-line init --roles makes them.
    bool initSchema();

    // Silent: whether a caller has connected, waiting at most the given time.
    bool waitForCaller(int milliseconds) const;

    // Why the last call failed, with the script's output.
    QString error() const { return problem; }

    static QString adminUser() { return QStringLiteral("korvane_admin"); }
    // host=127.0.0.1 port=N dbname=korvane user=USER sslmode=verify-full sslrootcert=... passfile=...
    // USER by default korvane_admin, DATABASE by default korvane.
    QString conninfo(const QString &user = QString(), const QString &database = QString()) const;
    // Both servers, the one that takes writes first (target_session_attrs=read-write).
    QString multiHostConninfo(const QString &user = QString(), const QString &database = QString()) const;
    int port() const;
    int standbyPort() const;

    // Paths as this process opens them (under Wine, Z:/...); forward slashes throughout.
    QString rootCertificate() const { return localDirectory + QStringLiteral("/tls/root.crt"); }
    QString passFile() const { return localDirectory + QStringLiteral("/pgpass"); }

private:
    bool run(const QStringList &arguments);
    bool runHere(const QStringList &arguments, QString *output);
    bool runByBroker(const QStringList &arguments, QString *output);
    QString common(const QString &user, const QString &database) const;

    int options;
    std::unique_ptr<QTemporaryDir> temporary;
    QString scriptDirectory; // as the script sees it
    QString localDirectory;
    QString broker; // the broker's folder as the script sees it; empty on Linux
    bool started = false;
    QString problem;
};
