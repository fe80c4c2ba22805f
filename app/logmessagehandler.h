#pragma once

#include <QString>
#include <QtGlobal>

// Appends every message as one line to the day's log file.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
