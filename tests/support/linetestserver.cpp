#include "linetestserver.h"

#include "linedatabase.h"
#include "lineschema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QTest>

#include <atomic>

namespace {

const char brokerVariable[] = "KORVANE_TEST_LINE_BROKER";
// A start with a standby takes about a second; many tests share two cores.
constexpr int scriptTimeoutMs = 180000;

std::atomic<int> sequence{0};

QString uniqueName()
{
    return QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(sequence.fetch_add(1));
}

// How this process opens a path the script names: Wine maps the Linux root to drive Z:.
QString localPath(const QString &path)
{
#ifdef Q_OS_WIN
    if (path.startsWith(QLatin1Char('/')))
        return QStringLiteral("Z:") + path;
#endif
    return path;
}

// A connection string value, quoted when it holds anything but plain characters.
QString conninfoValue(QString value)
{
    static const QString plain = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./:,-");
    bool quote = value.isEmpty();
    for (const QChar c : value)
        quote = quote || !plain.contains(c);
    if (!quote)
        return value;
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

int readPort(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}

} // namespace

LineTestServer::LineTestServer(int options)
    : options(options)
    , broker(qEnvironmentVariable(brokerVariable))
{
    if (!broker.isEmpty()) {
        scriptDirectory = broker + QStringLiteral("/servers/") + uniqueName();
    } else {
        temporary = std::make_unique<QTemporaryDir>();
        scriptDirectory = temporary->path() + QStringLiteral("/server");
    }
    localDirectory = localPath(scriptDirectory);
}

LineTestServer::~LineTestServer()
{
    if (started)
        stop();
}

bool LineTestServer::start()
{
    if (temporary && !temporary->isValid()) {
        problem = QStringLiteral("no temporary directory: %1").arg(temporary->errorString());
        return false;
    }
    QStringList arguments{QStringLiteral("start"), scriptDirectory};
    if (options & Standby)
        arguments << QStringLiteral("--standby");
    if (options & Silent)
        arguments << QStringLiteral("--silent");
    // Servers of a test that crashed end with it; a Windows process id means nothing to the script.
    if (broker.isEmpty())
        arguments << QStringLiteral("--owner") << QString::number(QCoreApplication::applicationPid());
    if (!run(arguments))
        return false;
    started = true;
    return true;
}

bool LineTestServer::createLogin(const QString &name, const QString &password, const QString &role)
{
    QStringList arguments{QStringLiteral("add-login"), scriptDirectory, name, password};
    if (!role.isEmpty())
        arguments << role;
    return run(arguments);
}

bool LineTestServer::initSchema()
{
    LineDatabase setup(conninfo());
    return LineSchema::init(setup, true, nullptr, &problem);
}

bool LineTestServer::waitForCaller(int milliseconds) const
{
    const QString seen = localDirectory + QStringLiteral("/caller");
    return QTest::qWaitFor([&seen] { return QFile::exists(seen); }, milliseconds);
}

QString LineTestServer::common(const QString &user, const QString &database) const
{
    return QStringLiteral("dbname=%1 user=%2 sslmode=verify-full sslrootcert=%3 passfile=%4")
        .arg(conninfoValue(database.isEmpty() ? QStringLiteral("korvane") : database),
            conninfoValue(user.isEmpty() ? adminUser() : user), conninfoValue(rootCertificate()),
            conninfoValue(passFile()));
}

QString LineTestServer::conninfo(const QString &user, const QString &database) const
{
    return QStringLiteral("host=127.0.0.1 port=%1 ").arg(port()) + common(user, database);
}

QString LineTestServer::multiHostConninfo(const QString &user, const QString &database) const
{
    return QStringLiteral("host=127.0.0.1,127.0.0.1 port=%1,%2 ").arg(port()).arg(standbyPort())
        + common(user, database) + QStringLiteral(" target_session_attrs=read-write");
}

int LineTestServer::port() const
{
    return readPort(localDirectory + QStringLiteral("/port"));
}

int LineTestServer::standbyPort() const
{
    return readPort(localDirectory + QStringLiteral("/standby.port"));
}

bool LineTestServer::run(const QStringList &arguments)
{
    QString output;
    const bool ok = broker.isEmpty() ? runHere(arguments, &output) : runByBroker(arguments, &output);
    problem = ok ? QString() : QStringLiteral("line-server.sh %1: %2").arg(arguments.first(), output.trimmed());
    return ok;
}

bool LineTestServer::runHere(const QStringList &arguments, QString *output)
{
#ifdef Q_OS_WIN
    Q_UNUSED(arguments);
    *output = QStringLiteral("cannot run bash here");
    return false;
#else
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("bash"), QStringList{QStringLiteral(KORVANE_LINE_SERVER_SCRIPT)} + arguments);
    const bool finished = process.waitForFinished(scriptTimeoutMs);
    *output = QString::fromLocal8Bit(process.readAll());
    if (!finished) {
        process.kill();
        process.waitForFinished();
        *output += QStringLiteral("\n(no answer within %1 s)").arg(scriptTimeoutMs / 1000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
#endif
}

bool LineTestServer::runByBroker(const QStringList &arguments, QString *output)
{
    const QString base = localPath(broker) + QStringLiteral("/requests/") + uniqueName();
    QSaveFile request(base + QStringLiteral(".req"));
    // A request that cannot be opened cannot be committed either.
    if (request.open(QIODevice::WriteOnly))
        request.write(arguments.join(QLatin1Char('\n')).toUtf8() + '\n');
    if (!request.commit()) {
        *output = QStringLiteral("cannot write %1: %2").arg(request.fileName(), request.errorString());
        return false;
    }
    const QString answerPath = base + QStringLiteral(".done");
    if (!QTest::qWaitFor([&] { return QFile::exists(answerPath); }, scriptTimeoutMs)) {
        *output = QStringLiteral("the broker in %1 did not answer within %2 s").arg(broker).arg(scriptTimeoutMs / 1000);
        return false;
    }
    QFile answer(answerPath);
    if (!answer.open(QIODevice::ReadOnly)) {
        *output = QStringLiteral("cannot read %1").arg(answerPath);
        return false;
    }
    const QByteArray status = answer.readLine().trimmed();
    *output = QString::fromUtf8(answer.readAll());
    answer.close();
    answer.remove();
    return status == "0";
}
