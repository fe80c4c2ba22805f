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

TraceRecord actionRecord(
    const QString &station, const QString &time, const QString &cpuId, qint32 exitCode, const QString &level)
{
    TraceRecord record;
    record.time = time;
    record.station = station;
    record.tool = QStringLiteral("Korvane 1.0.0");
    record.plugin = QStringLiteral("korvane_aes.dll");
    record.pluginSha256 = Trace::sha256Hex("plugin");
    record.level = level;
    record.board = level == QLatin1String("basic") ? QStringLiteral("Maskrom") : QStringLiteral("Loader");
    if (!cpuId.isNull())
        record.cpuId = cpuId;
    record.exitCode = exitCode;
    return record;
}
