// What the line report costs, against a throwaway server on loopback started as the tests
// start them (scripts/line-server.sh):
//  1. a line's month on the line database: 30 days × 20 stations × 1,667 records, a million
//     records (put in by the server itself; the uploads' own cost is bench_line's), then
//     korvane-line's report of the month and of one station, figures and page;
//  2. one station's month from its trace folder (50,010 records), as korvane-trace reads it.

#include "linedatabase.h"
#include "linereport.h"
#include "lineschema.h"
#include "linetestserver.h"
#include "benchfailure.h"
#include "median.h"
#include "reportpage.h"
#include "tracerecord.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int days = 30;
constexpr int stations = 20;
constexpr int recordsPerStationDay = 1667;
constexpr int runs = 5;

// Records as stations write them: mostly Basic, every tenth a Middle action, failures of
// a few codes, the units that failed to be written retried.
const char generateSql[] = R"sql(
INSERT INTO korvane.records (station, day, seq, line, hash, prev, time, level, cpu_id, exit_code)
SELECT station, day, seq, line, md5(line), md5(seq::text), time, level, cpu_id, exit_code FROM (
    SELECT station, day, seq, time, level, cpu_id, exit_code,
        format('{"seq":%s,"time":"%s","station":"%s","tool":"Korvane 1.0.0","plugin":"korvane_aes.dll",'
            '"plugin_sha256":"%s","level":"%s","board":"Loader","cpu_id":%s,"key_fingerprint":null,'
            '"key_index":null,"data_size":null,"data_sha256":null,"exit_code":%s,"duration_ms":%s,"prev":"%s"}',
            seq, time, station, repeat('ab', 32), level, coalesce('"' || cpu_id || '"', 'null'), exit_code,
            duration, repeat('0', 64)) AS line
    FROM (
        SELECT 'station-' || s AS station, DATE '2026-11-01' + d AS day, n AS seq,
            to_char(TIMESTAMPTZ '2026-11-01 06:00Z' + d * INTERVAL '1 day' + n * INTERVAL '20 seconds',
                'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"') AS time,
            CASE WHEN n % 10 = 0 THEN 'middle' ELSE 'basic' END AS level,
            CASE WHEN n % 10 = 0 THEN NULL
                ELSE lpad(to_hex(s * 100000000 + d * 100000 + CASE WHEN (n - 1) % 61 = 0 THEN n - 1 ELSE n END), 32, '0')
                END AS cpu_id,
            CASE WHEN n % 97 = 0 THEN -4 WHEN n % 61 = 0 THEN -1 WHEN n % 2 = 1 AND n % 7 = 0 THEN -2 ELSE 0 END
                AS exit_code,
            700 + (n * 37) % 400 AS duration
        FROM generate_series(1, $1::integer) s, generate_series(0, $2::integer - 1) d, generate_series(1, $3::integer) n
    ) r
) l
)sql";

double reportMs(LineDatabase &database, const Report::Period &period, qint64 *units)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        Report::Figures figures;
        QString reason;
        if (!LineReport::figures(database, period, &figures, &reason))
            fail(reason);
        const QByteArray page = ReportPage::html(figures, QDateTime::currentDateTimeUtc());
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        *units = figures.units;
        if (page.isEmpty())
            fail(QStringLiteral("no page"));
    }
    return median(times);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    LineTestServer server;
    if (!server.start())
        fail(server.error());
    LineDatabase database(server.conninfo(), std::chrono::minutes(5));
    QString reason;
    if (!LineSchema::init(database, false, nullptr, &reason))
        fail(reason);

    QElapsedTimer timer;
    timer.start();
    const LineDatabase::Result generated = database.exec(QString::fromUtf8(generateSql),
        { QString::number(stations), QString::number(days), QString::number(recordsPerStationDay) });
    if (!generated.ok || !database.exec(QStringLiteral("ANALYZE korvane.records")).ok)
        fail(generated.error);
    const qint64 records = database.exec(QStringLiteral("SELECT count(*) FROM korvane.records")).rows.value(0).value(0).toLongLong();
    std::printf("line database: %lld records put in by the server in %.1f s\n", records, double(timer.elapsed()) / 1000);

    qint64 units = 0;
    const double month = reportMs(database, {}, &units);
    std::printf("report of the month, every station: %.0f ms (median of %d), %lld units\n", month, runs, units);
    const double week = reportMs(database, { QDate(2026, 11, 10), QDate(2026, 11, 16), {} }, &units);
    std::printf("report of one week, every station: %.0f ms, %lld units\n", week, units);
    const double station = reportMs(database, { {}, {}, { QStringLiteral("station-7") } }, &units);
    std::printf("report of the month, one station: %.0f ms, %lld units\n", station, units);

    // One station's month as its trace folder holds it: chained files, one per day.
    QTemporaryDir folder;
    for (int day = 0; day < days; ++day) {
        const QDate date = QDate(2026, 11, 1).addDays(day);
        QFile file(folder.filePath(Trace::fileNameFor(date)));
        if (!file.open(QIODevice::WriteOnly))
            fail(file.errorString());
        QString prev = Trace::firstPrev;
        for (int n = 1; n <= recordsPerStationDay; ++n) {
            TraceRecord record;
            record.seq = n;
            record.time = QDateTime(date, QTime(8, 0)).addSecs(n * 20).toUTC().toString(Qt::ISODateWithMs);
            record.station = QStringLiteral("station-7");
            record.tool = QStringLiteral("Korvane 1.0.0");
            record.plugin = QStringLiteral("korvane_aes.dll");
            record.pluginSha256 = QString(64, QLatin1Char('a'));
            record.level = QStringLiteral("basic");
            record.board = QStringLiteral("Loader");
            // A unit that failed to be written is retried as the next record.
            record.cpuId = QStringLiteral("%1").arg(day * 100000 + ((n - 1) % 61 == 0 ? n - 1 : n), 32, 16, QLatin1Char('0'));
            record.exitCode = n % 61 == 0 ? -1 : 0;
            record.durationMs = 700 + (n * 37) % 400;
            record.prev = prev;
            const QByteArray line = Trace::formatLine(record);
            prev = Trace::sha256Hex(line);
            file.write(line + '\n');
        }
    }
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        timer.restart();
        Report::Figures figures;
        if (!Report::figuresOfTraceFolder(folder.path(), {}, &figures, &reason))
            fail(reason);
        ReportPage::html(figures, QDateTime::currentDateTimeUtc());
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        units = figures.units;
    }
    std::printf("korvane-trace report of one station's month (%d records): %.0f ms, %lld units\n",
        days * recordsPerStationDay, median(times), units);
    return 0;
}
