#include "stopsignal.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <windows.h>

// Windows has no SIGPIPE: a write to a pipe whose reader has gone fails (ERROR_NO_DATA)
// and the program goes on. Nor SIGHUP: a closed console window sends CTRL_CLOSE_EVENT,
// after which Windows ends the process within seconds whatever a handler does, so that
// event is left to the default handler, which ends it at once.

namespace {

std::function<void()> stopHandler;

// Windows calls this on a thread of its own: the stop is queued to the event loop, and
// TRUE keeps the default handler from ending the process.
BOOL WINAPI onConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] { stopHandler(); }, Qt::QueuedConnection);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void stopAtOnceUntilHandled()
{
    // Until the handler is set, the default handler ends the process on every event.
}

void handleStopRequests(std::function<void()> onStop)
{
    stopHandler = std::move(onStop);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}
