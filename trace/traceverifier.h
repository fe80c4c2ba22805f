#pragma once

#include "tracerecord.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

// What checking one trace file's content found.
struct TraceVerification
{
    qint64 records = 0;
    // Lines cut off by a power loss, passed over (numbered from 1).
    QList<qsizetype> cutOffLines;
    // The first line that breaks the file, 0 when none does. A file without a complete
    // record is broken at line 1.
    qsizetype badLine = 0;
    QString problem;
};

// Checks every line of a trace file: each is a record, "seq" counts up from 1 and each
// "prev" is the SHA-256 of the record line before it; a line cut off by a power loss
// only where the chain goes around it. Bytes an editor added (a byte order mark, "\r\n"
// line ends) break the file too. Stops at the first bad line. With records, hands back
// each record the walk took, in order, up to the first bad line.
TraceVerification verifyTrace(QByteArrayView content, QList<TraceRecord> *records = nullptr);
