#include "stopsignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int stopSignals[] = { SIGINT, SIGTERM, SIGHUP };
int signalPipe[2] = { -1, -1 };
volatile sig_atomic_t handled = 0;

// Only async-signal-safe work here: the event loop picks the byte up.
void onStopSignal(int signal)
{
    if (!handled) {
        // Start-up: ended as the signal's default would have ended it.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

void stopAtOnceUntilHandled()
{
    ::signal(SIGPIPE, SIG_IGN);
    struct sigaction inherited = {};
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Device and file calls under way go on rather than fail with EINTR.
    action.sa_flags = SA_RESTART;
    for (const int signal : stopSignals) {
        // Started by nohup: a closed terminal is not meant to stop it.
        if (signal == SIGHUP && sigaction(SIGHUP, nullptr, &inherited) == 0
            && inherited.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
}

void handleStopRequests(std::function<void()> onStop)
{
    // Without the pair a stop request can only end the program, as during start-up.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onStop = std::move(onStop)] {
        char byte;
        [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &byte, 1);
        onStop();
    });
    handled = 1;
}
