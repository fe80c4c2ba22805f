#include "silentserver.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

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

bool SilentServer::waitForCaller(int milliseconds) const
{
    if (socket < 0)
        return false;
    // A completed handshake waiting in the backlog makes the listener readable.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Socket(socket), &readable);
    timeval timeout {};
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_usec = (milliseconds % 1000) * 1000;
    return ::select(static_cast<int>(socket) + 1, &readable, nullptr, nullptr, &timeout) > 0;
}
