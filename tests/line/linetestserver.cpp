#include "linetestserver.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

LineTestServer::~LineTestServer()
{
    if (started)
        script({ QStringLiteral("stop"), directory.path() });
}

bool LineTestServer::script(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(
        QStringLiteral("bash"), QStringList { QStringLiteral(KORVANE_LINE_SERVER_SCRIPT) } + arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        problem = QString::fromUtf8(process.readAll()).trimmed();
        if (problem.isEmpty())
            problem = QStringLiteral("line-server.sh %1 failed").arg(arguments.join(QLatin1Char(' ')));
        return false;
    }
    return true;
}

bool LineTestServer::start()
{
    if (!directory.isValid()) {
        problem = QStringLiteral("no temporary directory");
        return false;
    }
    QStringList arguments { QStringLiteral("start"), directory.path(), QStringLiteral("--owner"),
        QString::number(QCoreApplication::applicationPid()) };
    if (options & Standby)
        arguments.append(QStringLiteral("--standby"));
    started = script(arguments);
    if (!started)
        return false;
    const auto read = [this](const QString &name, QString *info) {
        QFile file(directory.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            problem = QStringLiteral("no %1").arg(name);
            return false;
        }
        *info = QString::fromUtf8(file.readAll()).trimmed();
        return true;
    };
    return read(QStringLiteral("conninfo"), &admin)
        && (!(options & Standby) || read(QStringLiteral("conninfo.multi"), &multiHost));
}

bool LineTestServer::stop()
{
    return script({ QStringLiteral("stop"), directory.path() });
}

bool LineTestServer::startAgain()
{
    return script({ QStringLiteral("start"), directory.path() });
}

QString LineTestServer::withUser(QString info, const QString &user)
{
    if (!user.isEmpty())
        info.replace(QStringLiteral("user=korvane_admin"), QStringLiteral("user=") + user);
    return info;
}

QString LineTestServer::conninfo(const QString &user, const QString &database) const
{
    QString info = withUser(admin, user);
    if (!database.isEmpty())
        info.replace(QStringLiteral("dbname=korvane "), QStringLiteral("dbname=%1 ").arg(database));
    return info;
}

bool LineTestServer::restart()
{
    return stop() && startAgain();
}

bool LineTestServer::stopPrimary()
{
    return script({ QStringLiteral("stop-primary"), directory.path() });
}

bool LineTestServer::stopStandby()
{
    return script({ QStringLiteral("stop-standby"), directory.path() });
}

bool LineTestServer::promote()
{
    return script({ QStringLiteral("promote"), directory.path() });
}

QString LineTestServer::multiHostConninfo(const QString &user) const
{
    return withUser(multiHost, user);
}

bool LineTestServer::createLogin(const QString &name, const QString &password, const QString &role)
{
    QStringList arguments { QStringLiteral("add-login"), directory.path(), name, password };
    if (!role.isEmpty())
        arguments.append(role);
    return script(arguments);
}

namespace {

#ifdef Q_OS_WIN
using Socket = SOCKET;
constexpr Socket noSocket = INVALID_SOCKET;
void closeSocket(Socket socket)
{
    ::closesocket(socket);
}
#else
using Socket = int;
constexpr Socket noSocket = -1;
void closeSocket(Socket socket)
{
    ::close(socket);
}
#endif

// A TCP socket bound to a free port on 127.0.0.1.
qintptr boundSocket(int *port)
{
#ifdef Q_OS_WIN
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        return -1;
#endif
    const Socket descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (descriptor == noSocket || ::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::getsockname(descriptor, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (descriptor != noSocket)
            closeSocket(descriptor);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return qintptr(descriptor);
}

} // namespace

// The system completes the handshakes of the backlog: connecting works, nothing answers.
SilentServer::SilentServer()
{
    socket = boundSocket(&listening);
    if (socket >= 0 && ::listen(Socket(socket), 16) != 0)
        listening = 0;
}

SilentServer::~SilentServer()
{
    if (socket >= 0)
        closeSocket(Socket(socket));
}
