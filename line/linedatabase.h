#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <chrono>

struct pg_conn;

// One connection to the line database through libpq, opened on demand and shared by the
// threads of one program: a call waits for the one before it. Every call is bounded in
// time: a server that accepts connections and never answers costs at most the timeout,
// then the connection is dropped and the call fails with the reason. A call made on a
// QThread whose interruption is requested gives up at once, the same way: a thread being
// stopped does not wait for the server.
class LineDatabase
{
public:
    // The version of the schema this program reads and writes.
    static constexpr int schemaVersion = 1;

    explicit LineDatabase(QString conninfo, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~LineDatabase();
    Q_DISABLE_COPY_MOVE(LineDatabase)

    // Why a connection string cannot be used, empty when it can: libpq cannot parse it
    // (libpq's reason), or it holds a password.
    static QString conninfoProblem(const QString &conninfo);
    static bool holdsPassword(const QString &conninfo);

    struct Result
    {
        bool ok = false;
        QList<QStringList> rows; // text of each value; a null value is a null QString
        QString error; // libpq's or the server's reason, one line
        QString sqlState; // the server's SQLSTATE, empty when it did not answer
    };

    // Connects when not connected and checks that the schema is there and not newer than
    // schemaVersion (checkSchema false: only connects, for init). False with the reason.
    bool connect(QString *reason, bool checkSchema = true);
    bool isConnected() const;
    void disconnect();

    // One statement with text parameters ($1, $2, ...), in its own transaction. A failure
    // that leaves the connection unusable drops it: the next call connects again.
    Result exec(const QString &sql, const QStringList &params = {});
    // Several statements without parameters, in one transaction: the rows are the last
    // statement's. For setting up the schema.
    Result execScript(const QString &sql);

    QString conninfo() const { return info; }
    // How long a statement may wait for its answer, by default the timeout given: longer
    // for a report the server takes a while to add up, while connecting stays as quick.
    void setAnswerTimeout(std::chrono::milliseconds answerTimeout);

private:
    Result execLocked(const QString &sql, const QStringList &params = {});
    Result sendLocked(const QString &sql, const QStringList *params);
    bool connectLocked(QString *reason, bool checkSchema);
    bool openLocked(QString *reason);
    // Drives the connection being opened until it is ready or the deadline passes.
    bool pollLocked(QString *reason, std::chrono::steady_clock::time_point deadline);
    void dropLocked();

    mutable QMutex mutex;
    const QString info;
    const std::chrono::milliseconds timeout;
    std::chrono::milliseconds answerTimeout;
    pg_conn *connection = nullptr;
    bool schemaChecked = false;
    bool unanswered = false; // the last statement got no answer: timed out or stopped
    // What a reconnection inside exec() checks: what the last connect() asked for.
    bool wantSchemaCheck = true;
};
