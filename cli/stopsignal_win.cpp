#include "stopsignal.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <windows.h>

namespace {

std::function<void()> stopHandler;

// Windows calls this on a thread of its own: the stop is queued to the event loop, and
// TRUE keeps the default handler from ending the process. A closed console window ends
// the process whatever the handler does, so that event is left to the default.
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

void handleStopRequests(std::function<void()> onStop)
{
    stopHandler = std::move(onStop);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}
