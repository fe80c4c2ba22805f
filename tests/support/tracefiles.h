#pragma once

#include "tracerecord.h"

#include <QList>
#include <QString>

// Every record of the trace files in a directory, oldest file first; none at all when a
// line is not a record or breaks its file's chain ("seq" and "prev").
QList<TraceRecord> chainedTraceRecords(const QString &directory);
