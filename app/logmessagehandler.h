#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <functional>

// The directory the log files go into: the one the window created at start.
void setLogFileDirectory(const QString &directory);

// Appends every message as one line to the day's log file.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// The clock that stamps the lines and picks the day's file; an empty function restores
// the system's local clock. Lets tests cross midnight without waiting for it.
using LogClock = std::function<QDateTime()>;
void setLogClock(LogClock clock);
