#include "linereport.h"

#include "linedatabase.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Report;

namespace {

// $1, $2: the period's first and last day (NULL: open); $3: the stations as a JSON array
// (NULL: all); $4: the cycle-time histogram's bounds; $5: the most rows of a list. Station
// names sort by code point, as the program sorts them. The duration is cut out of the
// record's line, the one key no column holds: its name cannot occur unescaped in a text
// value before it, and cutting is many times faster than parsing the JSON.
const char figuresSql[] = R"sql(
WITH period AS MATERIALIZED (
    SELECT station, day, seq, time, level, cpu_id, exit_code,
        CASE WHEN duration ~ '^\d{1,18}$' THEN duration::bigint END AS duration_ms
    FROM (
        SELECT station, day, seq, time, level, cpu_id, exit_code,
            split_part(split_part(line, '"duration_ms":', 2), ',', 1) AS duration
        FROM korvane.records
        WHERE ($1::date IS NULL OR day >= $1::date) AND ($2::date IS NULL OR day <= $2::date)
            AND ($3::jsonb IS NULL OR station IN (SELECT jsonb_array_elements_text($3::jsonb)))
    ) r
), firsts AS (
    SELECT DISTINCT ON (cpu_id) cpu_id, station, day, exit_code = 0 AS passed
    FROM period WHERE level = 'basic' AND cpu_id <> ''
    ORDER BY cpu_id, time, station COLLATE "C", day, seq
), station_days AS (
    SELECT station, day, sum(units) AS units, sum(first_pass) AS first_pass, sum(attempts) AS attempts,
        sum(failures) AS failures
    FROM (
        SELECT station, day, 0 AS units, 0 AS first_pass, count(*) AS attempts,
            count(*) FILTER (WHERE exit_code <> 0) AS failures
        FROM period GROUP BY station, day
        UNION ALL
        SELECT station, day, count(*), count(*) FILTER (WHERE passed), 0, 0 FROM firsts GROUP BY station, day
    ) counts GROUP BY station, day
), written AS MATERIALIZED (
    SELECT cpu_id, time, station FROM period WHERE level = 'basic' AND exit_code = 0 AND cpu_id <> ''
), twice AS MATERIALIZED (
    SELECT w.cpu_id, json_agg(w.station ORDER BY w.time, w.station COLLATE "C") AS stations,
        json_agg(w.time ORDER BY w.time, w.station COLLATE "C") AS times, min(w.time) AS first
    FROM written w JOIN (SELECT cpu_id FROM written GROUP BY cpu_id HAVING count(*) > 1) d ON d.cpu_id = w.cpu_id
    GROUP BY w.cpu_id
), in_doubt AS (
    SELECT cpu_id, station, since FROM korvane.claims WHERE state = 'open'
        AND ($3::jsonb IS NULL OR station IN (SELECT jsonb_array_elements_text($3::jsonb)))
), broken AS (
    SELECT station, day, seq, why, id FROM korvane.broken_chains
    WHERE ($1::date IS NULL OR day >= $1::date) AND ($2::date IS NULL OR day <= $2::date)
        AND ($3::jsonb IS NULL OR station IN (SELECT jsonb_array_elements_text($3::jsonb)))
)
SELECT json_build_object(
    'server', json_build_array(current_database(), host(inet_server_addr()), inet_server_port()),
    'days', (SELECT coalesce(json_agg(json_build_array(station, day, units, first_pass, attempts, failures)
        ORDER BY station COLLATE "C", day), '[]') FROM station_days),
    'attempts', (SELECT json_build_array(count(*), count(*) FILTER (WHERE exit_code = 0),
        count(*) FILTER (WHERE exit_code = -11)) FROM period),
    'failures', (SELECT coalesce(json_agg(json_build_array(exit_code, n) ORDER BY n DESC, exit_code), '[]')
        FROM (SELECT exit_code, count(*) AS n FROM period WHERE exit_code <> 0 GROUP BY exit_code) f),
    'minutes', (SELECT coalesce(json_agg(json_build_array(minute, n)), '[]') FROM (
        SELECT left(time, 16) AS minute, count(*) AS n FROM written GROUP BY 1) m),
    'cycles', (SELECT coalesce(json_agg(json_build_array(level, n, median, p95)
        ORDER BY array_position(ARRAY['basic', 'middle', 'high'], level)), '[]') FROM (
        SELECT level, count(*) AS n,
            percentile_disc(0.5) WITHIN GROUP (ORDER BY duration_ms) AS median,
            percentile_disc(0.95) WITHIN GROUP (ORDER BY duration_ms) AS p95
        FROM period WHERE level IN ('basic', 'middle', 'high') AND duration_ms IS NOT NULL GROUP BY level) c),
    'buckets', (SELECT coalesce(json_agg(json_build_array(level, bucket, n)), '[]') FROM (
        SELECT level, width_bucket(duration_ms, $4::bigint[]) AS bucket, count(*) AS n
        FROM period WHERE level IN ('basic', 'middle', 'high') AND duration_ms IS NOT NULL GROUP BY 1, 2) b),
    'twice', (SELECT coalesce(json_agg(json_build_array(cpu_id, stations, times) ORDER BY first, cpu_id), '[]')
        FROM (SELECT * FROM twice ORDER BY first, cpu_id LIMIT $5::integer) t),
    'twice_count', (SELECT count(*) FROM twice),
    'stations', (SELECT coalesce(json_agg(json_build_array(station, last_record,
            to_char(last_upload AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"')) ORDER BY station COLLATE "C"), '[]')
        FROM (SELECT station, max(time) AS last_record, max(uploaded) AS last_upload FROM korvane.records
            WHERE $3::jsonb IS NULL OR station IN (SELECT jsonb_array_elements_text($3::jsonb))
            GROUP BY station) s),
    'in_doubt', (SELECT coalesce(json_agg(json_build_array(cpu_id, station, since) ORDER BY since, cpu_id), '[]')
        FROM (SELECT * FROM in_doubt ORDER BY since, cpu_id LIMIT $5::integer) c),
    'in_doubt_count', (SELECT count(*) FROM in_doubt),
    'broken', (SELECT coalesce(json_agg(json_build_array(station, day, seq, why) ORDER BY station COLLATE "C", day, seq, id), '[]')
        FROM (SELECT * FROM broken ORDER BY station COLLATE "C", day, seq, id LIMIT $5::integer) b),
    'broken_count', (SELECT count(*) FROM broken)
)::text
)sql";

QString dateParameter(QDate date)
{
    return date.isValid() ? date.toString(Qt::ISODate) : QString();
}

QStringList texts(const QJsonValue &array)
{
    QStringList list;
    for (const QJsonValue &value : array.toArray())
        list.append(value.toString());
    return list;
}

} // namespace

namespace LineReport {

bool figures(LineDatabase &database, const Period &period, Figures *figures, QString *reason)
{
    if (!database.connect(reason))
        return false;
    QStringList bounds;
    for (const qint64 bound : cycleBucketBounds)
        bounds.append(QString::number(bound));
    const LineDatabase::Result result = database.exec(QString::fromUtf8(figuresSql),
        { dateParameter(period.from), dateParameter(period.to),
            period.stations.isEmpty()
                ? QString()
                : QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(period.stations)).toJson(QJsonDocument::Compact)),
            QLatin1Char('{') + bounds.join(QLatin1Char(',')) + QLatin1Char('}'), QString::number(listLimit) });
    if (!result.ok) {
        *reason = result.error;
        return false;
    }
    const QJsonObject all = QJsonDocument::fromJson(result.rows.value(0).value(0).toUtf8()).object();

    Figures read;
    read.period = period;
    read.fromLineDatabase = true;
    const QJsonArray server = all.value(QLatin1String("server")).toArray();
    read.source = server[1].isNull()
        ? server[0].toString()
        : QStringLiteral("%1 (%2:%3)").arg(server[0].toString(), server[1].toString()).arg(server[2].toInteger());
    for (const QJsonValue &value : all.value(QLatin1String("days")).toArray()) {
        const QJsonArray day = value.toArray();
        StationDay stationDay { day[0].toString(), QDate::fromString(day[1].toString(), Qt::ISODate),
            day[2].toInteger(), day[3].toInteger(), day[4].toInteger(), day[5].toInteger() };
        read.units += stationDay.units;
        read.firstPassUnits += stationDay.firstPassUnits;
        read.stationDays.append(stationDay);
    }
    const QJsonArray attempts = all.value(QLatin1String("attempts")).toArray();
    read.attempts = attempts[0].toInteger();
    read.passedAttempts = attempts[1].toInteger();
    read.refusedDuplicates = attempts[2].toInteger();
    for (const QJsonValue &value : all.value(QLatin1String("failures")).toArray())
        read.failures.append({ qint32(value[0].toInteger()), value[1].toInteger() });
    // Minutes of UTC, so that the hours of every time zone (some are off by 30 or 45
    // minutes) come out whole on this computer.
    for (const QJsonValue &value : all.value(QLatin1String("minutes")).toArray()) {
        const QDateTime minute
            = QDateTime::fromString(value[0].toString() + QStringLiteral(":00.000Z"), Qt::ISODateWithMs);
        if (minute.isValid())
            read.unitsWrittenByHour[size_t(minute.toLocalTime().time().hour())] += value[1].toInteger();
    }
    for (const QJsonValue &value : all.value(QLatin1String("cycles")).toArray()) {
        LevelCycle cycle { value[0].toString(), value[1].toInteger(), value[2].toInteger(), value[3].toInteger(), {} };
        for (const QJsonValue &bucket : all.value(QLatin1String("buckets")).toArray()) {
            if (bucket[0].toString() == cycle.level)
                cycle.histogram[size_t(bucket[1].toInteger())] = bucket[2].toInteger();
        }
        read.cycles.append(cycle);
    }
    read.writtenTwiceCount = all.value(QLatin1String("twice_count")).toInteger();
    read.inDoubtCount = all.value(QLatin1String("in_doubt_count")).toInteger();
    read.brokenChainCount = all.value(QLatin1String("broken_count")).toInteger();
    for (const QJsonValue &value : all.value(QLatin1String("twice")).toArray())
        read.writtenTwice.append({ value[0].toString(), texts(value[1]), texts(value[2]) });
    for (const QJsonValue &value : all.value(QLatin1String("stations")).toArray())
        read.stations.append({ value[0].toString(), value[1].toString(), value[2].toString() });
    for (const QJsonValue &value : all.value(QLatin1String("in_doubt")).toArray())
        read.inDoubt.append({ value[0].toString(), value[1].toString(), value[2].toString() });
    for (const QJsonValue &value : all.value(QLatin1String("broken")).toArray())
        read.brokenChains.append({ value[0].toString(), QDate::fromString(value[1].toString(), Qt::ISODate),
            value[2].toInteger(), value[3].toString() });
    *figures = read;
    return true;
}

} // namespace LineReport
