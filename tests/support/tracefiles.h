#pragma once

#include "tracerecord.h"

#include <QList>
#include <QString>

// Every record of the trace files in a directory, oldest file first; none at all when a
// file fails verifyTrace(), the walk korvane-trace verify makes.
QList<TraceRecord> chainedTraceRecords(const QString &directory);

// A record of an action as a station would write it, the plug-in and tool filled in: a
// Basic action by default, without a CPU id when cpuId is null.
TraceRecord actionRecord(const QString &station, const QString &time, const QString &cpuId, qint32 exitCode = 0,
    const QString &level = QStringLiteral("basic"));
