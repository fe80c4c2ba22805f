#pragma once

#include "tracerecord.h"

#include <QList>
#include <QString>

// Every record of the trace files in a directory, oldest file first; none at all when a
// file fails verifyTrace(), the walk korvane-trace verify makes.
QList<TraceRecord> chainedTraceRecords(const QString &directory);
