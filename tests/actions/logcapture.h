#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects the debug lines written while it lives, from any thread, so tests can
// check the diagnostics an action leaves in the log.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;

private:
    QtMessageHandler previous;
};
