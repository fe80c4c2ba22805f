#include "linedatabase.h"

#include <QMutexLocker>
#include <QThread>
#include <QtGlobal>

#include <libpq-fe.h>

#include <utility>
#include <vector>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#include <poll.h>
#endif

using Clock = std::chrono::steady_clock;

namespace {

enum class Wait { Ready, TimedOut, Stopped, Failed };

// How long a wait goes before it looks whether its thread is being stopped.
constexpr std::chrono::milliseconds stopCheckInterval(50);

bool stopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

// Waits until the socket can be read (or written), the deadline passes or the calling
// thread is asked to stop. The one place that differs between the systems.
Wait waitForSocket(int socket, bool forRead, bool forWrite, Clock::time_point deadline)
{
    if (socket < 0)
        return Wait::Failed;
    for (;;) {
        if (stopRequested())
            return Wait::Stopped;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Wait::TimedOut;
        const auto slice = qMin(left, stopCheckInterval);
#ifdef Q_OS_WIN
        fd_set readable;
        fd_set writable;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        if (forRead)
            FD_SET(static_cast<SOCKET>(socket), &readable);
        if (forWrite)
            FD_SET(static_cast<SOCKET>(socket), &writable);
        timeval timeout;
        timeout.tv_sec = 0;
        timeout.tv_usec = static_cast<long>(slice.count() * 1000);
        const int ready = select(0, &readable, &writable, nullptr, &timeout);
        if (ready > 0)
            return Wait::Ready;
        if (ready < 0)
            return Wait::Failed;
#else
        pollfd descriptor {};
        descriptor.fd = socket;
        descriptor.events = static_cast<short>((forRead ? POLLIN : 0) | (forWrite ? POLLOUT : 0));
        const int ready = poll(&descriptor, 1, static_cast<int>(slice.count()));
        if (ready > 0)
            return Wait::Ready;
        if (ready < 0 && errno != EINTR)
            return Wait::Failed;
#endif
    }
}

// libpq's messages end in a line end and may span lines; the callers want one line.
QString oneLine(const char *text)
{
    return QString::fromUtf8(text).simplified();
}

QString timeoutReason(std::chrono::milliseconds timeout)
{
    return QStringLiteral("no answer from the line database within %1 ms").arg(timeout.count());
}

QString noAnswerReason(Wait wait, std::chrono::milliseconds timeout)
{
    return wait == Wait::Stopped ? QStringLiteral("stopped before the line database answered")
                                 : timeoutReason(timeout);
}

// The options of one connection attempt, keyword and value.
using Options = std::vector<std::pair<QByteArray, QByteArray>>;

// The options libpq made of a connection being opened (its string, the service file, the
// environment), one set per host when they name several; none when they name one.
std::vector<Options> eachHost(pg_conn *connection)
{
    PQconninfoOption *options = PQconninfo(connection);
    if (!options)
        return {};
    Options common;
    QList<QByteArray> hosts;
    QList<QByteArray> addresses;
    QList<QByteArray> ports;
    for (const PQconninfoOption *option = options; option->keyword; ++option) {
        if (!option->val || !option->val[0])
            continue;
        const QByteArray keyword(option->keyword);
        const QByteArray value(option->val);
        if (keyword == "host")
            hosts = value.split(',');
        else if (keyword == "hostaddr")
            addresses = value.split(',');
        else if (keyword == "port")
            ports = value.split(',');
        else if (keyword != "service") // already read into the others
            common.emplace_back(keyword, value);
    }
    PQconninfoFree(options);
    const qsizetype count = qMax(hosts.size(), addresses.size());
    if (count < 2)
        return {};
    std::vector<Options> each;
    for (qsizetype i = 0; i < count; ++i) {
        Options one = common;
        if (i < hosts.size() && !hosts[i].isEmpty())
            one.emplace_back("host", hosts[i]);
        if (i < addresses.size() && !addresses[i].isEmpty())
            one.emplace_back("hostaddr", addresses[i]);
        // One port for all hosts, or one each.
        if (!ports.isEmpty())
            one.emplace_back("port", ports.size() == 1 ? ports[0] : ports.value(i));
        each.push_back(std::move(one));
    }
    return each;
}

} // namespace

LineDatabase::LineDatabase(QString conninfo, std::chrono::milliseconds timeout)
    : info(std::move(conninfo))
    , timeout(timeout)
    , answerTimeout(timeout)
{
}

LineDatabase::~LineDatabase()
{
    disconnect();
}

namespace {

// libpq's reading of a connection string: null with the reason when it cannot read it.
PQconninfoOption *parseConninfo(const QString &conninfo, QString *reason)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    if (!options) {
        *reason = error ? oneLine(error) : QStringLiteral("out of memory");
        PQfreemem(error);
    }
    return options;
}

} // namespace

bool LineDatabase::holdsPassword(const QString &conninfo)
{
    QString unreadable;
    PQconninfoOption *options = parseConninfo(conninfo, &unreadable);
    bool password = false;
    for (const PQconninfoOption *option = options; option && option->keyword; ++option) {
        if (qstrcmp(option->keyword, "password") == 0 && option->val && option->val[0])
            password = true;
    }
    PQconninfoFree(options);
    return password;
}

QString LineDatabase::conninfoProblem(const QString &conninfo)
{
    QString reason;
    PQconninfoOption *options = parseConninfo(conninfo, &reason);
    if (!options)
        return reason;
    PQconninfoFree(options);
    // Configurations and command lines are read by anyone at the bench: the password
    // belongs in the password file of the user who runs the program.
    if (holdsPassword(conninfo))
        return QStringLiteral("the connection string must not hold a password (keep it in the password file)");
    return {};
}

bool LineDatabase::connect(QString *reason, bool checkSchema)
{
    QMutexLocker locker(&mutex);
    return connectLocked(reason, checkSchema);
}

bool LineDatabase::isConnected() const
{
    QMutexLocker locker(&mutex);
    return connection && PQstatus(connection) == CONNECTION_OK;
}

void LineDatabase::disconnect()
{
    QMutexLocker locker(&mutex);
    dropLocked();
}

void LineDatabase::dropLocked()
{
    if (connection)
        PQfinish(connection);
    connection = nullptr;
    schemaChecked = false;
}

bool LineDatabase::connectLocked(QString *reason, bool checkSchema)
{
    QString ignored;
    if (!reason)
        reason = &ignored;
    wantSchemaCheck = checkSchema;
    if (connection && PQstatus(connection) != CONNECTION_OK)
        dropLocked();
    if (!connection) {
        if (!openLocked(reason))
            return false;
    }
    if (!checkSchema || schemaChecked)
        return true;

    // The catalog answers whether the table is there whatever the login may read.
    const Result exists = execLocked(QStringLiteral(
        "SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n"
        " ON n.oid = c.relnamespace WHERE n.nspname = 'korvane' AND c.relname = 'schema_info')"));
    if (!exists.ok) {
        *reason = exists.error;
        return false;
    }
    if (exists.rows.value(0).value(0) != QLatin1String("t")) {
        *reason = QStringLiteral("line database schema missing (run korvane-line init)");
        return false;
    }
    const Result version = execLocked(QStringLiteral("SELECT max(version) FROM korvane.schema_info"));
    if (!version.ok) {
        *reason = version.error;
        return false;
    }
    bool number = false;
    const int found = version.rows.value(0).value(0).toInt(&number);
    if (!number) {
        *reason = QStringLiteral("line database schema missing (run korvane-line init)");
        return false;
    }
    if (found > schemaVersion) {
        *reason = QStringLiteral("line database schema version %1 is newer than this program (%2)")
                      .arg(found)
                      .arg(schemaVersion);
        return false;
    }
    if (found < schemaVersion) {
        *reason = QStringLiteral(
            "line database schema version %1 is older than this program (%2); run korvane-line init")
                      .arg(found)
                      .arg(schemaVersion);
        return false;
    }
    schemaChecked = true;
    return true;
}

bool LineDatabase::openLocked(QString *reason)
{
    const QString problem = conninfoProblem(info);
    if (!problem.isEmpty()) {
        *reason = problem;
        return false;
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    // The whole string is expanded as the first dbname; what follows it overrides it.
    const QByteArray expanded = info.toUtf8();
    const char *const keywords[] = { "dbname", "client_encoding", nullptr };
    const char *const values[] = { expanded.constData(), "UTF8", nullptr };
    connection = PQconnectStartParams(keywords, values, 1);
    if (!connection) {
        *reason = QStringLiteral("out of memory");
        return false;
    }
    if (PQstatus(connection) == CONNECTION_BAD) {
        *reason = oneLine(PQerrorMessage(connection));
        dropLocked();
        return false;
    }
    const std::vector<Options> hosts = eachHost(connection);
    if (hosts.empty())
        return pollLocked(reason, deadline);

    // libpq would try the hosts in turn itself, but with its polling API the time one may
    // take is left to us: a primary that went silent would take all of it, and the standby
    // promoted after it would never be asked. Each host gets its share of the time left.
    dropLocked();
    QStringList reasons;
    for (size_t i = 0; i < hosts.size(); ++i) {
        const Clock::time_point share = Clock::now() + (deadline - Clock::now()) / qint64(hosts.size() - i);
        std::vector<const char *> hostKeywords;
        std::vector<const char *> hostValues;
        for (const auto &[keyword, value] : hosts[i]) {
            hostKeywords.push_back(keyword.constData());
            hostValues.push_back(value.constData());
        }
        hostKeywords.push_back(nullptr);
        hostValues.push_back(nullptr);
        connection = PQconnectStartParams(hostKeywords.data(), hostValues.data(), 0);
        if (!connection) {
            *reason = QStringLiteral("out of memory");
            return false;
        }
        QString why;
        if (PQstatus(connection) != CONNECTION_BAD && pollLocked(&why, share))
            return true;
        if (connection) {
            why = oneLine(PQerrorMessage(connection));
            dropLocked();
        }
        reasons.append(why);
        if (stopRequested())
            break;
    }
    *reason = reasons.join(QStringLiteral("; "));
    return false;
}

bool LineDatabase::pollLocked(QString *reason, Clock::time_point deadline)
{
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
    while (polling != PGRES_POLLING_OK) {
        if (polling == PGRES_POLLING_FAILED) {
            *reason = oneLine(PQerrorMessage(connection));
            dropLocked();
            return false;
        }
        // The socket may change from one attempt to the next (several addresses).
        const Wait wait = waitForSocket(PQsocket(connection), polling == PGRES_POLLING_READING,
            polling == PGRES_POLLING_WRITING, deadline);
        if (wait == Wait::TimedOut || wait == Wait::Stopped) {
            *reason = noAnswerReason(wait, timeout);
            dropLocked();
            return false;
        }
        if (wait == Wait::Failed) {
            *reason = oneLine(PQerrorMessage(connection));
            if (reason->isEmpty())
                *reason = QStringLiteral("the connection to the line database failed");
            dropLocked();
            return false;
        }
        polling = PQconnectPoll(connection);
    }
    // Sending must not block either: a full socket buffer waits on the deadline.
    if (PQsetnonblocking(connection, 1) != 0) {
        *reason = oneLine(PQerrorMessage(connection));
        dropLocked();
        return false;
    }
    return true;
}

LineDatabase::Result LineDatabase::exec(const QString &sql, const QStringList &params)
{
    QMutexLocker locker(&mutex);
    Result result;
    // A connection kept from an earlier call may have been closed by the server meanwhile
    // (a restart, a fail-over): such a call is made once more on a new connection. Only
    // then, and never after a timeout or a stop, so a call still costs one timeout at most.
    const bool kept = connection && PQstatus(connection) == CONNECTION_OK;
    if (!connectLocked(&result.error, wantSchemaCheck))
        return result;
    result = execLocked(sql, params);
    if (result.ok || !kept || connection || unanswered)
        return result;
    Result again;
    if (!connectLocked(&again.error, wantSchemaCheck))
        return result;
    return execLocked(sql, params);
}

void LineDatabase::setAnswerTimeout(std::chrono::milliseconds answer)
{
    QMutexLocker locker(&mutex);
    answerTimeout = answer;
}

LineDatabase::Result LineDatabase::execScript(const QString &sql)
{
    QMutexLocker locker(&mutex);
    Result result;
    if (!connectLocked(&result.error, wantSchemaCheck))
        return result;
    return sendLocked(sql, nullptr);
}

LineDatabase::Result LineDatabase::execLocked(const QString &sql, const QStringList &params)
{
    return sendLocked(sql, &params);
}

LineDatabase::Result LineDatabase::sendLocked(const QString &sql, const QStringList *params)
{
    Result result;
    unanswered = false;
    const Clock::time_point deadline = Clock::now() + answerTimeout;
    const QByteArray query = sql.toUtf8();
    int sent = 0;
    if (params) {
        QList<QByteArray> bytes;
        bytes.reserve(params->size());
        QList<const char *> values;
        values.reserve(params->size());
        for (const QString &param : *params) {
            bytes.append(param.toUtf8());
            values.append(param.isNull() ? nullptr : bytes.constLast().constData());
        }
        sent = PQsendQueryParams(connection, query.constData(), static_cast<int>(values.size()), nullptr,
            values.constData(), nullptr, nullptr, 0);
    } else {
        // Several statements: the simple protocol runs them in one transaction.
        sent = PQsendQuery(connection, query.constData());
    }
    const auto fail = [&](const QString &reason) {
        result.ok = false;
        result.error = reason;
        result.rows.clear();
        result.sqlState.clear();
        dropLocked();
        return result;
    };
    if (!sent)
        return fail(oneLine(PQerrorMessage(connection)));

    for (;;) {
        const int flushed = PQflush(connection);
        if (flushed == 0)
            break;
        if (flushed < 0)
            return fail(oneLine(PQerrorMessage(connection)));
        const Wait wait = waitForSocket(PQsocket(connection), true, true, deadline);
        if (wait == Wait::TimedOut || wait == Wait::Stopped) {
            unanswered = true;
            return fail(noAnswerReason(wait, answerTimeout));
        }
        if (wait == Wait::Failed || !PQconsumeInput(connection))
            return fail(oneLine(PQerrorMessage(connection)));
    }

    bool answered = false;
    for (;;) {
        while (PQisBusy(connection)) {
            const Wait wait = waitForSocket(PQsocket(connection), true, false, deadline);
            if (wait == Wait::TimedOut || wait == Wait::Stopped) {
                unanswered = true;
                return fail(noAnswerReason(wait, answerTimeout));
            }
            if (wait == Wait::Failed || !PQconsumeInput(connection))
                return fail(oneLine(PQerrorMessage(connection)));
        }
        PGresult *answer = PQgetResult(connection);
        if (!answer)
            break;
        const ExecStatusType status = PQresultStatus(answer);
        if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
            // The rows of the last statement are the answer; an error before it stays.
            if (result.error.isEmpty()) {
                answered = true;
                result.rows.clear();
                const int rows = PQntuples(answer);
                const int columns = PQnfields(answer);
                result.rows.reserve(rows);
                for (int row = 0; row < rows; ++row) {
                    QStringList values;
                    values.reserve(columns);
                    for (int column = 0; column < columns; ++column) {
                        if (PQgetisnull(answer, row, column)) {
                            values.append(QString());
                        } else {
                            const char *value = PQgetvalue(answer, row, column);
                            // Never null for a value that is there, even an empty one.
                            values.append(value[0] ? QString::fromUtf8(value) : QStringLiteral(""));
                        }
                    }
                    result.rows.append(values);
                }
            }
        } else if (result.error.isEmpty()) {
            const char *primary = PQresultErrorField(answer, PG_DIAG_MESSAGE_PRIMARY);
            result.error = primary ? oneLine(primary) : oneLine(PQresultErrorMessage(answer));
            if (result.error.isEmpty())
                result.error = QString::fromLatin1(PQresStatus(status));
            const char *state = PQresultErrorField(answer, PG_DIAG_SQLSTATE);
            result.sqlState = state ? QString::fromLatin1(state) : QString();
        }
        PQclear(answer);
    }
    if (PQstatus(connection) != CONNECTION_OK) {
        const QString reason = result.error.isEmpty() ? oneLine(PQerrorMessage(connection)) : result.error;
        const QString state = result.sqlState;
        fail(reason);
        result.sqlState = state;
        return result;
    }
    result.ok = result.error.isEmpty() && answered;
    if (!result.ok && result.error.isEmpty())
        result.error = QStringLiteral("no answer to the statement");
    if (!result.ok)
        result.rows.clear();
    return result;
}
