#include "linecommands.h"

#include "consoleoutput.h"

#include "linedatabase.h"
#include "linereport.h"
#include "lineschema.h"
#include "lineupload.h"
#include "reportpage.h"
#include "tracerecord.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace LineCommands {

namespace {

using ConsoleOutput::print;
using ConsoleOutput::printError;
using ConsoleOutput::writeLine;

// Connects and checks the schema; the exit status when that fails.
int connectOrStatus(LineDatabase &database)
{
    QString reason;
    if (database.connect(&reason))
        return ExitOk;
    printError(QStringLiteral("korvane-line: %1").arg(reason));
    // Connected but with a schema missing or newer is not a connection problem.
    return database.isConnected() ? ExitFailed : ExitNoConnection;
}

// A server time as the trace writes times: UTC, milliseconds, "Z".
QString utc(const QString &column)
{
    return QStringLiteral("to_char(%1 AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')").arg(column);
}

bool query(LineDatabase &database, const QString &sql, const QStringList &params, QList<QStringList> *rows)
{
    const LineDatabase::Result result = database.exec(sql, params);
    if (!result.ok) {
        printError(QStringLiteral("korvane-line: %1").arg(result.error));
        return false;
    }
    *rows = result.rows;
    return true;
}

QJsonValue jsonText(const QString &text)
{
    return text.isNull() ? QJsonValue() : QJsonValue(text);
}

QJsonValue jsonNumber(const QString &text)
{
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    return ok ? QJsonValue(number) : QJsonValue();
}

QByteArray compactJson(const QJsonValue &value)
{
    // A value alone is no JSON document: it goes through an array of one.
    const QByteArray array = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// One JSON object on one line with its keys in the order given, which QJsonObject sorts.
QString orderedLine(const QList<QPair<QString, QJsonValue>> &fields)
{
    QByteArray line = "{";
    for (const auto &[key, value] : fields)
        line += (line.size() > 1 ? "," : "") + compactJson(key) + ':' + compactJson(value);
    return QString::fromUtf8(line + '}');
}

QJsonArray objects(const QList<QStringList> &rows, const QStringList &names, const QStringList &numbers = {})
{
    QJsonArray array;
    for (const QStringList &row : rows) {
        QJsonObject object;
        for (qsizetype i = 0; i < names.size(); ++i)
            object.insert(
                names[i], numbers.contains(names[i]) ? jsonNumber(row.value(i)) : jsonText(row.value(i)));
        array.append(object);
    }
    return array;
}

void printSection(const QString &title, const QStringList &lines)
{
    print(title + QLatin1Char(':'));
    if (lines.isEmpty())
        print(QStringLiteral("  none"));
    for (const QString &line : lines)
        print(QStringLiteral("  ") + line);
}

} // namespace

int init(LineDatabase &database, bool roles)
{
    QString reason;
    if (!database.connect(&reason, false)) {
        printError(QStringLiteral("korvane-line: %1").arg(reason));
        return ExitNoConnection;
    }
    QStringList done;
    const bool ok = LineSchema::init(database, roles, &done, &reason);
    for (const QString &line : std::as_const(done))
        print(line);
    if (!ok) {
        printError(QStringLiteral("korvane-line: %1").arg(reason));
        return ExitFailed;
    }
    return ExitOk;
}

int status(LineDatabase &database, bool json)
{
    if (const int failed = connectOrStatus(database))
        return failed;
    QList<QStringList> stations;
    QList<QStringList> inDoubt;
    QList<QStringList> broken;
    QList<QStringList> twice;
    QList<QStringList> released;
    if (!query(database,
            QStringLiteral("SELECT station, count(*), max(time), %1 FROM korvane.records"
                           " GROUP BY station ORDER BY station")
                .arg(utc(QStringLiteral("max(uploaded)"))),
            {}, &stations)
        || !query(database,
            QStringLiteral(
                "SELECT cpu_id, station, since FROM korvane.claims WHERE state = 'open' ORDER BY since, id"),
            {}, &inDoubt)
        || !query(database,
            QStringLiteral("SELECT station, day::text, seq, why FROM korvane.broken_chains ORDER BY id"), {},
            &broken)
        // Every successful Basic record counts, on one station or several: the stations
        // are listed once per record, oldest first.
        || !query(database,
            QStringLiteral(
                "SELECT cpu_id, json_agg(station ORDER BY time, station, day, seq)::text"
                " FROM korvane.records WHERE level = 'basic' AND exit_code = 0 AND cpu_id IS NOT NULL"
                " GROUP BY cpu_id HAVING count(*) > 1 ORDER BY min(time)"),
            {}, &twice)
        || !query(database,
            QStringLiteral("SELECT cpu_id, station, since, %1, released_by, reason FROM korvane.claims"
                           " WHERE state = 'released' ORDER BY released, id")
                .arg(utc(QStringLiteral("released"))),
            {}, &released))
        return ExitFailed;

    const bool findings = !inDoubt.isEmpty() || !broken.isEmpty() || !twice.isEmpty();
    if (json) {
        QJsonArray written;
        for (const QStringList &row : std::as_const(twice)) {
            written.append(QJsonObject { { QStringLiteral("cpu_id"), row.value(0) },
                { QStringLiteral("stations"), QJsonDocument::fromJson(row.value(1).toUtf8()).array() } });
        }
        const QJsonObject object {
            { QStringLiteral("stations"),
                objects(stations,
                    { QStringLiteral("station"), QStringLiteral("records"), QStringLiteral("last_record"),
                        QStringLiteral("last_upload") },
                    { QStringLiteral("records") }) },
            { QStringLiteral("in_doubt"),
                objects(inDoubt,
                    { QStringLiteral("cpu_id"), QStringLiteral("station"), QStringLiteral("since") }) },
            { QStringLiteral("broken_chains"),
                objects(broken,
                    { QStringLiteral("station"), QStringLiteral("day"), QStringLiteral("seq"),
                        QStringLiteral("why") },
                    { QStringLiteral("seq") }) },
            { QStringLiteral("written_twice"), written },
            { QStringLiteral("released"),
                objects(released,
                    { QStringLiteral("cpu_id"), QStringLiteral("station"), QStringLiteral("since"),
                        QStringLiteral("released"), QStringLiteral("by"), QStringLiteral("reason") }) },
        };
        std::fputs(QJsonDocument(object).toJson(QJsonDocument::Indented).constData(), stdout);
        return findings ? ExitFindings : ExitOk;
    }

    QStringList lines;
    for (const QStringList &row : std::as_const(stations))
        lines.append(QStringLiteral("%1: %2 records, last %3, uploaded %4")
                         .arg(row.value(0), row.value(1), row.value(2), row.value(3)));
    printSection(QStringLiteral("Stations"), lines);
    lines.clear();
    for (const QStringList &row : std::as_const(inDoubt))
        lines.append(
            QStringLiteral("%1 claimed by %2 since %3").arg(row.value(0), row.value(1), row.value(2)));
    printSection(QStringLiteral("In doubt"), lines);
    lines.clear();
    for (const QStringList &row : std::as_const(broken))
        lines.append(QStringLiteral("%1, %2, record %3: %4")
                         .arg(row.value(0), row.value(1), row.value(2), row.value(3)));
    printSection(QStringLiteral("Broken chains"), lines);
    lines.clear();
    for (const QStringList &row : std::as_const(twice)) {
        QStringList names;
        for (const QJsonValue &name : QJsonDocument::fromJson(row.value(1).toUtf8()).array())
            names.append(name.toString());
        lines.append(QStringLiteral("%1 on %2").arg(row.value(0), names.join(QStringLiteral(", "))));
    }
    printSection(QStringLiteral("Written twice"), lines);
    lines.clear();
    for (const QStringList &row : std::as_const(released))
        lines.append(
            QStringLiteral("%1 claimed by %2 since %3, released %4 by %5: %6")
                .arg(row.value(0), row.value(1), row.value(2), row.value(3), row.value(4), row.value(5)));
    printSection(QStringLiteral("Released"), lines);
    return findings ? ExitFindings : ExitOk;
}

int release(LineDatabase &database, const QString &cpuId, const QString &reason)
{
    if (const int failed = connectOrStatus(database))
        return failed;
    QList<QStringList> rows;
    if (!query(database, QStringLiteral("SELECT korvane.release_claim($1, $2)"), { cpuId.toLower(), reason },
            &rows))
        return ExitFailed;
    const int count = rows.value(0).value(0).toInt();
    if (count == 0) {
        printError(QStringLiteral("korvane-line: no claim of %1 in doubt").arg(cpuId.toLower()));
        return ExitFailed;
    }
    print(QStringLiteral("%1: claim released").arg(cpuId.toLower()));
    return ExitOk;
}

int find(LineDatabase &database, const QString &cpuId)
{
    if (const int failed = connectOrStatus(database))
        return failed;
    const QString id = cpuId.toLower();
    QList<QStringList> records;
    QList<QStringList> claims;
    if (!query(database,
            QStringLiteral(
                "SELECT line FROM korvane.records WHERE cpu_id = $1 ORDER BY time, station, day, seq"),
            { id }, &records)
        || !query(database,
            QStringLiteral("SELECT state, station, since, host, pid, db_user, %1, %2, released_by, reason"
                           " FROM korvane.claims WHERE cpu_id = $1 ORDER BY id")
                .arg(utc(QStringLiteral("settled")), utc(QStringLiteral("released"))),
            { id }, &claims))
        return ExitFailed;
    // Records as stored, byte for byte; then each claim, its release with who, when and why.
    for (const QStringList &row : std::as_const(records))
        print(row.value(0));
    for (const QStringList &row : std::as_const(claims)) {
        QList<QPair<QString, QJsonValue>> fields { { QStringLiteral("claim"), id },
            { QStringLiteral("state"), row.value(0) }, { QStringLiteral("station"), row.value(1) },
            { QStringLiteral("since"), row.value(2) }, { QStringLiteral("host"), jsonText(row.value(3)) },
            { QStringLiteral("pid"), jsonNumber(row.value(4)) }, { QStringLiteral("db_user"), row.value(5) } };
        if (!row.value(6).isNull())
            fields.append({ QStringLiteral("settled"), row.value(6) });
        if (row.value(0) == QLatin1String("released")) {
            fields.append({ QStringLiteral("released"), row.value(7) });
            fields.append({ QStringLiteral("by"), row.value(8) });
            fields.append({ QStringLiteral("reason"), row.value(9) });
        }
        print(orderedLine(fields));
    }
    if (records.isEmpty() && claims.isEmpty()) {
        printError(QStringLiteral("korvane-line: nothing of %1").arg(id));
        return ExitFailed;
    }
    return ExitOk;
}

int push(LineDatabase &database, const QStringList &directories)
{
    if (const int failed = connectOrStatus(database))
        return failed;
    bool allStored = true;
    for (const QString &directory : directories) {
        if (!QFileInfo(directory).isDir()) {
            printError(QStringLiteral("%1: no such directory").arg(directory));
            allStored = false;
            continue;
        }
        for (const QString &path : Trace::filesIn(directory)) {
            const QString day = Trace::dateOfFileName(QFileInfo(path).fileName()).toString(Qt::ISODate);
            QList<qint64> skipped;
            const QList<LineUpload::WaitingLine> lines = LineUpload::waitingLines(path, 0, &skipped);
            for (const qint64 number : std::as_const(skipped)) {
                printError(QStringLiteral("%1:%2: not a record, not uploaded").arg(path).arg(number));
                allStored = false;
            }
            qint64 counts[3] = {};
            for (const LineUpload::WaitingLine &line : lines) {
                const LineUpload::Answer answer = LineUpload::uploadLine(database, day, line.line);
                if (answer.outcome == LineUpload::Answer::Outcome::Failed) {
                    printError(QStringLiteral("%1:%2: %3").arg(path).arg(line.number).arg(answer.why));
                    return answer.unreachable ? ExitNoConnection : ExitFailed;
                }
                ++counts[int(answer.outcome)];
                if (answer.outcome == LineUpload::Answer::Outcome::Broken) {
                    printError(
                        QStringLiteral("%1:%2: broken chain: %3").arg(path).arg(line.number).arg(answer.why));
                    allStored = false;
                }
            }
            print(QStringLiteral("%1: %2 stored, %3 already there, %4 broken")
                      .arg(path)
                      .arg(counts[0])
                      .arg(counts[1])
                      .arg(counts[2]));
        }
    }
    return allStored ? ExitOk : ExitFailed;
}

int report(LineDatabase &database, const Report::Period &period, const QString &htmlPath)
{
    if (const int failed = connectOrStatus(database))
        return failed;
    // Months of a large line take the server seconds to add up; a server that does not
    // answer at all was found out by the connection already.
    database.setAnswerTimeout(std::chrono::minutes(10));
    Report::Figures figures;
    QString reason;
    if (!LineReport::figures(database, period, &figures, &reason)) {
        printError(QStringLiteral("korvane-line: %1").arg(reason));
        return ExitFailed;
    }
    if (!ReportPage::write(htmlPath, ReportPage::html(figures, QDateTime::currentDateTimeUtc()), &reason)) {
        printError(QStringLiteral("korvane-line: %1").arg(reason));
        return ExitFailed;
    }
    print(ReportPage::writtenLine(htmlPath, figures));
    return ExitOk;
}

} // namespace LineCommands
