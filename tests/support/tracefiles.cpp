#include "tracefiles.h"

#include <QFile>

QList<TraceRecord> chainedTraceRecords(const QString &directory)
{
    QList<TraceRecord> records;
    for (const QString &path : Trace::filesIn(directory)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray content = file.readAll();
        qint64 seq = 0;
        QString prev = Trace::firstPrev;
        for (const QByteArrayView line : Trace::lines(content)) {
            const ParsedTraceLine parsed = Trace::parseLine(line);
            if (!parsed.record || parsed.record->seq != ++seq || parsed.record->prev != prev)
                return {};
            records.append(*parsed.record);
            prev = Trace::sha256Hex(line);
        }
    }
    return records;
}
