#pragma once

#include <QString>
#include <QTemporaryDir>

// A throwaway PostgreSQL 15 for one test program (scripts/line-server.sh): TLS, SCRAM
// logins whose passwords are in the server's password file, database "korvane". Stopped
// by the destructor, or by the script when the test program dies.
class LineTestServer
{
public:
    enum Option {
        NoOption = 0,
        Standby = 0x1, // also a synchronous streaming standby: multiHostConninfo() names both
    };

    explicit LineTestServer(int options = NoOption)
        : options(options)
    {
    }
    ~LineTestServer();
    Q_DISABLE_COPY_MOVE(LineTestServer)

    // False with the script's complaint in error().
    bool start();
    QString error() const { return problem; }

    // korvane_admin's connection string, or another login's, or another database's.
    QString conninfo(const QString &user = QString(), const QString &database = QString()) const;
    // Stops the server as an outage would, and starts it again on the same port and data:
    // its connections are closed.
    bool stop();
    bool startAgain();
    bool restart();
    // Standby only: the primary ends at once, as in a crash; then the standby takes writes.
    bool stopPrimary();
    bool promote();
    // Standby only: while it is down, every commit on the primary waits for it; startAgain()
    // starts it again.
    bool stopStandby();
    // Both servers, the one that takes writes first (target_session_attrs=read-write).
    QString multiHostConninfo(const QString &user = QString()) const;
    // A login with its password in the server's password file, member of role when given.
    bool createLogin(const QString &name, const QString &password, const QString &role = QString());

private:
    bool script(const QStringList &arguments);

    static QString withUser(QString info, const QString &user);

    const int options;
    QTemporaryDir directory;
    QString admin;
    QString multiHost;
    QString problem;
    bool started = false;
};

// A port on 127.0.0.1 whose listener completes TCP connections and never says a word.
class SilentServer
{
public:
    SilentServer();
    ~SilentServer();
    Q_DISABLE_COPY_MOVE(SilentServer)
    int port() const { return listening; }

private:
    qintptr socket = -1;
    int listening = 0;
};
