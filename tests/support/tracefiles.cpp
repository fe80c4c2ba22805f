#include "tracefiles.h"

#include "traceverifier.h"

#include <QFile>

QList<TraceRecord> chainedTraceRecords(const QString &directory)
{
    QList<TraceRecord> records;
    for (const QString &path : Trace::filesIn(directory)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || verifyTrace(file.readAll(), &records).badLine != 0)
            return {};
    }
    return records;
}
