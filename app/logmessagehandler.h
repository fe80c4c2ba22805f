#pragma once

#include <QString>
#include <QtGlobal>

// The directory the log files go into: the one the window created at start.
void setLogFileDirectory(const QString &directory);

// Appends every message as one line to the day's log file.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
