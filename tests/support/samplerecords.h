#pragma once

#include "testenvironment.h"
#include "tracejournal.h"
#include "tracerecord.h"

#include <QDateTime>
#include <QFile>

#include <optional>

// What the trace tests build their files from.
namespace SampleRecords {

// A time in the minute after 10:00 UTC on 2024-03-<day>: one local day in every time zone.
inline QString utc(int day, int second = 0)
{
    return QStringLiteral("2024-03-%1T10:00:%2.000Z")
        .arg(day, 2, 10, QLatin1Char('0'))
        .arg(second, 2, 10, QLatin1Char('0'));
}

// The file the records of utc(day) go to.
inline QString fileName(int day)
{
    return Trace::fileNameFor(QDateTime::fromString(utc(day), Qt::ISODateWithMs).toLocalTime().date());
}

inline TraceRecord record(const QString &time, const QString &level = QStringLiteral("basic"),
    const std::optional<QString> &cpuId = QStringLiteral("0a1b2c3d"), qint32 exitCode = 0)
{
    TraceRecord record;
    record.time = time;
    record.station = QStringLiteral("Bench 1");
    record.tool = QStringLiteral("Korvane 1.0.0");
    record.plugin = QStringLiteral("korvane_aes.dll");
    record.pluginSha256 = Trace::sha256Hex("plugin");
    record.level = level;
    record.board = QStringLiteral("Maskrom");
    record.cpuId = cpuId;
    record.keyFingerprint = QStringLiteral("0123456789abcdef");
    record.exitCode = exitCode;
    record.durationMs = 1234;
    return record;
}

// Appends the records through the journal, as Korvane does; their lines, none when one fails.
inline QList<QByteArray> journalRecords(const QString &directory, const QList<TraceRecord> &records)
{
    TraceJournal journal(directory);
    QList<QByteArray> lines;
    for (TraceRecord record : records) {
        if (!journal.append(record))
            return {};
        lines.append(Trace::formatLine(record));
    }
    return lines;
}

inline bool write(
    const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    return file.open(mode) && file.write(bytes) == bytes.size();
}

} // namespace SampleRecords
