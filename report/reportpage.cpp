#include "reportpage.h"

#include "exitcodes.h"
#include "levels.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

using namespace Report;

namespace {

const char styleSheet[] = R"css(
@page { size: A4; margin: 12mm; }
* { box-sizing: border-box; }
body { font-family: "Segoe UI", "Microsoft YaHei", "Noto Sans CJK SC", "WenQuanYi Zen Hei", sans-serif;
  font-size: 10.5pt; color: #1c2330; margin: 0 auto; max-width: 186mm; padding: 8mm 0; }
h1 { font-size: 17pt; margin: 0 0 2pt; }
h2 { font-size: 12.5pt; margin: 16pt 0 6pt; border-bottom: 1.5pt solid #455a64; padding-bottom: 2pt; }
h3 { font-size: 10.5pt; margin: 10pt 0 4pt; }
p { margin: 4pt 0; }
.subtitle, .note { color: #56606e; }
.note { font-size: 9pt; }
.figures { display: flex; flex-wrap: wrap; gap: 6pt; }
.figure { flex: 1 1 22%; border: 1pt solid #cfd6de; border-radius: 4pt; padding: 5pt 7pt; break-inside: avoid; }
.figure .value { font-size: 17pt; font-weight: 600; }
.figure .label { font-size: 9pt; color: #56606e; }
.figure.alert { border-color: #c62828; background: #fdecea; }
.figure.alert .value { color: #c62828; }
table { border-collapse: collapse; width: 100%; margin: 4pt 0; font-size: 9.5pt; }
th, td { text-align: left; padding: 2pt 5pt; border-bottom: 0.5pt solid #dde3ea; vertical-align: top; overflow-wrap: anywhere; }
th { background: #eef1f5; font-weight: 600; }
td.number, th.number { text-align: right; font-variant-numeric: tabular-nums; }
tr { break-inside: avoid; }
tr.alert td { color: #c62828; }
.multiples { display: flex; flex-wrap: wrap; gap: 8pt; }
.multiple { break-inside: avoid; }
.multiple .name { font-size: 9pt; font-weight: 600; overflow-wrap: anywhere; max-width: 62mm; }
svg { display: block; }
svg text { font-size: 8px; fill: #56606e; }
.pass { fill: #2e7d32; }
.retry { fill: #ef6c00; }
.fail { fill: #c62828; }
.plain { fill: #455a64; }
.line { fill: none; stroke: #1c2330; stroke-width: 1.2; }
.legend span { display: inline-block; width: 8pt; height: 8pt; margin: 0 3pt 0 8pt; vertical-align: -1pt; }
.legend .pass { background: #2e7d32; } .legend .retry { background: #ef6c00; }
.todo { border-left: 3pt solid #c62828; padding: 2pt 6pt; background: #fdf3f2; break-inside: avoid; }
code { font-family: Consolas, "DejaVu Sans Mono", monospace; font-size: 9pt; overflow-wrap: anywhere; }
section { break-inside: auto; }
)css";

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString number(qint64 value)
{
    return QLocale(QLocale::English).toString(value);
}

// A figure a reader of the page (or a test) finds by name, its plain value beside the shown one.
QString figure(const char *name, qint64 value, const QString &shown = QString())
{
    return QStringLiteral("<span data-figure=\"%1\" data-value=\"%2\">%3</span>")
        .arg(QLatin1String(name))
        .arg(value)
        .arg(shown.isNull() ? number(value) : shown);
}

QString percent(qint64 part, qint64 whole)
{
    if (whole == 0)
        return QStringLiteral("–");
    return ReportPage::tr("%1 %").arg(QString::number(100.0 * double(part) / double(whole), 'f', 1));
}

QString localTime(const QString &utcTime)
{
    const QDateTime time = QDateTime::fromString(utcTime, Qt::ISODateWithMs);
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : escaped(utcTime);
}

QString age(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    if (seconds >= 86400)
        return ReportPage::tr("%1 d %2 h").arg(seconds / 86400).arg(seconds % 86400 / 3600);
    if (seconds >= 3600)
        return ReportPage::tr("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
    return ReportPage::tr("%1 min").arg(seconds / 60);
}

qint64 secondsSince(const QString &utcTime, const QDateTime &made)
{
    const QDateTime time = QDateTime::fromString(utcTime, Qt::ISODateWithMs);
    return time.isValid() ? time.secsTo(made) : 0;
}

QString levelName(const QString &level)
{
    switch (Levels::parse(level).value_or(0)) {
    case Levels::basic:
        return ReportPage::tr("Basic");
    case Levels::middle:
        return ReportPage::tr("Middle");
    case Levels::high:
        return ReportPage::tr("High");
    }
    return escaped(level);
}

QString cell(const QString &html, bool isNumber = false)
{
    return isNumber ? QStringLiteral("<td class=\"number\">%1</td>").arg(html)
                    : QStringLiteral("<td>%1</td>").arg(html);
}

QString headerRow(const QStringList &names, int firstNumber)
{
    QString row = QStringLiteral("<tr>");
    for (qsizetype i = 0; i < names.size(); ++i)
        row += i >= firstNumber ? QStringLiteral("<th class=\"number\">%1</th>").arg(names[i])
                                : QStringLiteral("<th>%1</th>").arg(names[i]);
    return row + QStringLiteral("</tr>");
}

QString nothing(const QString &what)
{
    return QStringLiteral("<p class=\"note\">%1</p>").arg(what);
}

// A bar chart: one bar per value with its label under it, each bar optionally split into a
// lower part (the class of the first of parts) and the rest.
struct Bar
{
    QString label;
    qint64 total = 0;
    qint64 lower = 0; // drawn in lowerClass, the rest in upperClass
    QString title;
    QString figure; // the bar's data-figure name, when it has one
};

QString barChart(const QList<Bar> &bars, qint64 scale, int width, int height, const char *lowerClass,
    const char *upperClass, int labelEvery = 1)
{
    const int labelSpace = 11;
    const double plot = height - labelSpace;
    const double slot = bars.isEmpty() ? width : double(width) / double(bars.size());
    QString svg = QStringLiteral("<svg width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" role=\"img\">")
                      .arg(width)
                      .arg(height);
    svg += QStringLiteral("<line x1=\"0\" y1=\"%1\" x2=\"%2\" y2=\"%1\" stroke=\"#b0bac5\" stroke-width=\"0.6\"/>")
               .arg(plot)
               .arg(width);
    for (qsizetype i = 0; i < bars.size(); ++i) {
        const Bar &bar = bars[i];
        const double x = slot * double(i) + slot * 0.1;
        const double barWidth = std::max(slot * 0.8, 0.5);
        const auto heightOf = [&](qint64 value) { return scale > 0 ? plot * double(value) / double(scale) : 0.0; };
        const double lowerHeight = heightOf(bar.lower);
        const double upperHeight = heightOf(bar.total - bar.lower);
        svg += bar.figure.isEmpty()
            ? QStringLiteral("<g>")
            : QStringLiteral("<g data-figure=\"%1\" data-value=\"%2\">").arg(bar.figure).arg(bar.total);
        svg += QStringLiteral("<title>%1</title>").arg(escaped(bar.title));
        if (lowerHeight > 0)
            svg += QStringLiteral("<rect class=\"%1\" x=\"%2\" y=\"%3\" width=\"%4\" height=\"%5\"/>")
                       .arg(QLatin1String(lowerClass))
                       .arg(x, 0, 'f', 1)
                       .arg(plot - lowerHeight, 0, 'f', 1)
                       .arg(barWidth, 0, 'f', 1)
                       .arg(lowerHeight, 0, 'f', 1);
        if (upperHeight > 0)
            svg += QStringLiteral("<rect class=\"%1\" x=\"%2\" y=\"%3\" width=\"%4\" height=\"%5\"/>")
                       .arg(QLatin1String(upperClass))
                       .arg(x, 0, 'f', 1)
                       .arg(plot - lowerHeight - upperHeight, 0, 'f', 1)
                       .arg(barWidth, 0, 'f', 1)
                       .arg(upperHeight, 0, 'f', 1);
        svg += QStringLiteral("</g>");
        if (i % labelEvery == 0)
            svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
                       .arg(slot * (double(i) + 0.5), 0, 'f', 1)
                       .arg(height - 2)
                       .arg(escaped(bar.label));
    }
    return svg + QStringLiteral("</svg>");
}

QString headline(const Figures &figures)
{
    const auto box = [](const QString &value, const QString &label, const QString &detail, bool alert) {
        return QStringLiteral("<div class=\"figure%1\"><div class=\"value\">%2</div><div class=\"label\">%3</div>"
                              "<div class=\"note\">%4</div></div>")
            .arg(alert ? QStringLiteral(" alert") : QString(), value, label, detail);
    };
    QString html = QStringLiteral("<section id=\"headline\"><h2>%1</h2><div class=\"figures\">")
                       .arg(ReportPage::tr("The period at a glance"));
    html += box(figure("units", figures.units), ReportPage::tr("Units"),
        ReportPage::tr("distinct CPU ids of Basic actions"), false);
    html += box(figure("first-pass-yield", figures.firstPassUnits, percent(figures.firstPassUnits, figures.units)),
        ReportPage::tr("First-pass yield"),
        ReportPage::tr("%1 of %2 units passed their first Basic attempt")
            .arg(number(figures.firstPassUnits), number(figures.units)),
        false);
    html += box(figure("attempt-yield", figures.passedAttempts, percent(figures.passedAttempts, figures.attempts)),
        ReportPage::tr("Attempt yield"),
        ReportPage::tr("%1 of %2 actions of every level passed")
            .arg(number(figures.passedAttempts), number(figures.attempts)),
        false);
    html += box(figure("refused-duplicates", figures.refusedDuplicates), ReportPage::tr("Refused duplicates"),
        ReportPage::tr("Basic actions refused: CPU id already written or in doubt"), false);
    html += box(figure("claims-in-doubt", figures.inDoubtCount), ReportPage::tr("Claims in doubt"),
        ReportPage::tr("boards that may or may not have been written"), figures.inDoubtCount > 0);
    html += box(figure("broken-chains", figures.brokenChainCount), ReportPage::tr("Chains broken"),
        ReportPage::tr("records missing, changed or out of order"), figures.brokenChainCount > 0);
    html += box(figure("written-twice", figures.writtenTwiceCount), ReportPage::tr("CPU ids written twice"),
        ReportPage::tr("boards a successful Basic action wrote more than once"), figures.writtenTwiceCount > 0);
    return html + QStringLiteral("</div></section>");
}

// The first and last day of the period, open ends taken from the records.
QPair<QDate, QDate> daysOf(const Figures &figures)
{
    QDate first = figures.period.from;
    QDate last = figures.period.to;
    for (const StationDay &day : figures.stationDays) {
        if (!figures.period.from.isValid() && (!first.isValid() || day.day < first))
            first = day.day;
        if (!figures.period.to.isValid() && (!last.isValid() || day.day > last))
            last = day.day;
    }
    return { first, last };
}

QList<QDate> daysShown(const Figures &figures)
{
    const auto [first, last] = daysOf(figures);
    QList<QDate> days;
    // A period far longer than its records would draw bars too thin to see: its records' days.
    if (first.isValid() && last.isValid() && first.daysTo(last) < 93) {
        for (QDate day = first; day <= last; day = day.addDays(1))
            days.append(day);
    } else {
        for (const StationDay &day : figures.stationDays)
            days.append(day.day);
        std::sort(days.begin(), days.end());
        days.erase(std::unique(days.begin(), days.end()), days.end());
    }
    return days;
}

QString stationsAndDays(const Figures &figures)
{
    QString html = QStringLiteral("<section id=\"stations\"><h2>%1</h2>").arg(ReportPage::tr("Per station and day"));
    if (figures.stationDays.isEmpty())
        return html + nothing(ReportPage::tr("No records in this period.")) + QStringLiteral("</section>");

    // Small multiples on one scale: the same height means the same number of units.
    const QList<QDate> days = daysShown(figures);
    qint64 scale = 0;
    QStringList stations;
    for (const StationDay &day : figures.stationDays) {
        scale = std::max(scale, day.units);
        if (!stations.contains(day.station))
            stations.append(day.station);
    }
    html += QStringLiteral("<p class=\"legend note\">%1<span class=\"pass\"></span>%2<span class=\"retry\"></span>%3</p>")
                .arg(ReportPage::tr("Units per day, on one scale (highest: %1):").arg(number(scale)),
                    ReportPage::tr("passed the first time"), ReportPage::tr("needed another attempt"));
    html += QStringLiteral("<div class=\"multiples\">");
    for (const QString &station : std::as_const(stations)) {
        QList<Bar> bars;
        for (const QDate &date : days) {
            Bar bar { date.toString(QStringLiteral("dd")), 0, 0, date.toString(Qt::ISODate), {} };
            for (const StationDay &day : figures.stationDays) {
                if (day.station == station && day.day == date) {
                    bar.total = day.units;
                    bar.lower = day.firstPassUnits;
                }
            }
            bar.title = ReportPage::tr("%1: %2 units, %3 passed the first time")
                            .arg(bar.title, number(bar.total), number(bar.lower));
            bars.append(bar);
        }
        const int labelEvery = int(days.size() + 9) / 10;
        html += QStringLiteral("<div class=\"multiple\"><div class=\"name\">%1</div>%2</div>")
                    .arg(escaped(station), barChart(bars, scale, 200, 70, "pass", "retry", labelEvery));
    }
    html += QStringLiteral("</div><table>");
    html += headerRow({ ReportPage::tr("Station"), ReportPage::tr("Day"), ReportPage::tr("Units"),
                          ReportPage::tr("First-pass yield"), ReportPage::tr("Attempts"), ReportPage::tr("Failures") },
        2);
    for (const StationDay &day : figures.stationDays) {
        html += QStringLiteral("<tr data-station-day>") + cell(escaped(day.station))
            + cell(day.day.toString(Qt::ISODate)) + cell(figure("units", day.units), true)
            + cell(figure("first-pass", day.firstPassUnits, percent(day.firstPassUnits, day.units)), true)
            + cell(figure("attempts", day.attempts), true) + cell(figure("failures", day.failures), true)
            + QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table></section>");
}

QString failures(const Figures &figures)
{
    QString html = QStringLiteral("<section id=\"failures\"><h2>%1</h2>").arg(ReportPage::tr("Failures by exit code"));
    if (figures.failures.isEmpty())
        return html + nothing(ReportPage::tr("No failed actions in this period.")) + QStringLiteral("</section>");
    qint64 total = 0;
    for (const ExitCodeCount &failure : figures.failures)
        total += failure.count;

    // A Pareto chart: the causes by count, and the share they make up together.
    const int width = 640;
    const int height = 150;
    const int plot = height - 14;
    const double slot = double(width) / double(figures.failures.size());
    const qint64 scale = figures.failures.constFirst().count;
    QString svg = QStringLiteral("<svg width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" role=\"img\">")
                      .arg(width)
                      .arg(height);
    QString points;
    qint64 cumulative = 0;
    for (qsizetype i = 0; i < figures.failures.size(); ++i) {
        const ExitCodeCount &failure = figures.failures[i];
        cumulative += failure.count;
        const double barHeight = (plot - 8) * double(failure.count) / double(scale);
        const double centre = slot * (double(i) + 0.5);
        svg += QStringLiteral("<rect class=\"fail\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"><title>%5</title></rect>")
                   .arg(slot * double(i) + slot * 0.15, 0, 'f', 1)
                   .arg(plot - barHeight, 0, 'f', 1)
                   .arg(slot * 0.7, 0, 'f', 1)
                   .arg(barHeight, 0, 'f', 1)
                   .arg(escaped(ReportPage::tr("%1: %2 failures").arg(failure.exitCode).arg(failure.count)));
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
                   .arg(centre, 0, 'f', 1)
                   .arg(height - 3)
                   .arg(failure.exitCode);
        points += QStringLiteral("%1,%2 ")
                      .arg(centre, 0, 'f', 1)
                      .arg(plot - (plot - 8) * double(cumulative) / double(total), 0, 'f', 1);
    }
    svg += QStringLiteral("<polyline class=\"line\" points=\"%1\"/>").arg(points.trimmed());
    svg += QStringLiteral("<text x=\"%1\" y=\"7\" text-anchor=\"end\">%2</text></svg>").arg(width - 1).arg(percent(1, 1));
    html += QStringLiteral("<p class=\"note\">%1</p>").arg(ReportPage::tr("Bars: failures per exit code; line: their cumulative share."));
    html += svg + QStringLiteral("<table>");
    html += headerRow({ ReportPage::tr("Exit code"), ReportPage::tr("What happened"), ReportPage::tr("Failures"),
                          ReportPage::tr("Share"), ReportPage::tr("Cumulative") },
        2);
    cumulative = 0;
    for (const ExitCodeCount &failure : figures.failures) {
        cumulative += failure.count;
        html += QStringLiteral("<tr data-exit-code=\"%1\">").arg(failure.exitCode)
            + cell(QString::number(failure.exitCode)) + cell(ReportPage::exitCodeMeaning(failure.exitCode))
            + cell(figure("failures", failure.count), true) + cell(percent(failure.count, total), true)
            + cell(percent(cumulative, total), true) + QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table></section>");
}

QString bucketLabel(int bucket)
{
    const auto bound = [](qint64 ms) {
        return ms >= 1000 ? ReportPage::tr("%1 s").arg(ms / 1000) : ReportPage::tr("%1 ms").arg(ms);
    };
    if (bucket == 0)
        return QStringLiteral("<") + bound(cycleBucketBounds.front());
    if (bucket == cycleBuckets - 1)
        return QStringLiteral("≥") + bound(cycleBucketBounds.back());
    return bound(cycleBucketBounds[size_t(bucket - 1)]);
}

QString throughput(const Figures &figures)
{
    QString html = QStringLiteral("<section id=\"throughput\"><h2>%1</h2>").arg(ReportPage::tr("Throughput and cycle time"));
    qint64 scale = 0;
    qint64 written = 0;
    QList<Bar> hours;
    for (int hour = 0; hour < 24; ++hour) {
        const qint64 count = figures.unitsWrittenByHour[size_t(hour)];
        scale = std::max(scale, count);
        written += count;
        hours.append({ QString::number(hour), count, count,
            ReportPage::tr("%1:00–%1:59: %2 units written").arg(hour, 2, 10, QLatin1Char('0')).arg(number(count)),
            QStringLiteral("units-written-%1").arg(hour, 2, 10, QLatin1Char('0')) });
    }
    html += QStringLiteral("<h3>%1</h3>").arg(ReportPage::tr("Units written by hour of the day (local time)"));
    if (written == 0)
        html += nothing(ReportPage::tr("No unit was written in this period."));
    else
        html += barChart(hours, scale, 640, 110, "pass", "pass");

    html += QStringLiteral("<h3>%1</h3>").arg(ReportPage::tr("Cycle time per level"));
    if (figures.cycles.isEmpty())
        return html + nothing(ReportPage::tr("No records in this period.")) + QStringLiteral("</section>");
    html += QStringLiteral("<table>");
    html += headerRow({ ReportPage::tr("Level"), ReportPage::tr("Actions"), ReportPage::tr("Median"),
                          ReportPage::tr("95th percentile"), ReportPage::tr("Histogram") },
        1);
    for (const LevelCycle &cycle : figures.cycles) {
        qint64 highest = 0;
        QList<Bar> buckets;
        for (int bucket = 0; bucket < cycleBuckets; ++bucket) {
            const qint64 count = cycle.histogram[size_t(bucket)];
            highest = std::max(highest, count);
            buckets.append({ bucketLabel(bucket), count, count,
                ReportPage::tr("%1: %2 actions").arg(bucketLabel(bucket), number(count)),
                QStringLiteral("%1-bucket-%2").arg(escaped(cycle.level)).arg(bucket) });
        }
        html += QStringLiteral("<tr data-level=\"%1\">").arg(escaped(cycle.level)) + cell(levelName(cycle.level))
            + cell(figure("actions", cycle.attempts), true)
            + cell(figure("median-ms", cycle.medianMs, ReportPage::tr("%1 ms").arg(number(cycle.medianMs))), true)
            + cell(figure("p95-ms", cycle.p95Ms, ReportPage::tr("%1 ms").arg(number(cycle.p95Ms))), true)
            + QStringLiteral("<td class=\"number\">%1</td>").arg(barChart(buckets, highest, 280, 46, "plain", "plain", 2))
            + QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table></section>");
}

QString command(const QString &text)
{
    return QStringLiteral("<code>%1</code>").arg(escaped(text));
}

// One list of what needs attention: "None.", or what to do about it, then its first rows
// and how many it leaves out.
QString findings(const QString &title, const QString &toDo, const QString &commandLine, const QStringList &headers,
    const QString &rows, qsizetype shown, qint64 count)
{
    QString html = QStringLiteral("<h3>%1</h3>").arg(title);
    if (count == 0)
        return html + nothing(ReportPage::tr("None."));
    html += QStringLiteral("<p class=\"todo\">%1 %2</p><table>").arg(toDo, command(commandLine))
        + headerRow(headers, int(headers.size())) + rows + QStringLiteral("</table>");
    if (count > shown)
        html += nothing(ReportPage::tr("… and %1 more.").arg(number(count - shown)));
    return html;
}

QString attention(const Figures &figures, const QDateTime &made)
{
    QString html = QStringLiteral("<section id=\"attention\"><h2>%1</h2>").arg(ReportPage::tr("What needs attention"));

    html += QStringLiteral("<h3>%1</h3>").arg(ReportPage::tr("Stations"));
    if (figures.stations.isEmpty()) {
        html += nothing(ReportPage::tr("No station has a record."));
    } else {
        html += QStringLiteral("<table>");
        QStringList names { ReportPage::tr("Station"), ReportPage::tr("Last record") };
        if (figures.fromLineDatabase)
            names.append(ReportPage::tr("Last upload"));
        names.append(ReportPage::tr("State"));
        html += headerRow(names, int(names.size()));
        for (const StationLast &station : figures.stations) {
            // Silent: no new record, or none that reached the line database, for an hour.
            const QString newest = figures.fromLineDatabase && !station.lastUpload.isNull()
                ? std::min(station.lastRecord, station.lastUpload)
                : station.lastRecord;
            const qint64 silence = secondsSince(newest, made);
            const bool silent = silence > ReportPage::silentAfterSeconds;
            html += QStringLiteral("<tr%1 data-station>").arg(silent ? QStringLiteral(" class=\"alert\"") : QString())
                + cell(escaped(station.station)) + cell(localTime(station.lastRecord));
            if (figures.fromLineDatabase)
                html += cell(station.lastUpload.isNull() ? QStringLiteral("–") : localTime(station.lastUpload));
            html += cell(silent ? ReportPage::tr("silent for %1").arg(age(silence)) : ReportPage::tr("active"))
                + QStringLiteral("</tr>");
        }
        html += QStringLiteral("</table>");
    }

    QString rows;
    for (const ClaimInDoubt &claim : figures.inDoubt)
        rows += QStringLiteral("<tr data-claim>") + cell(command(claim.cpuId)) + cell(escaped(claim.station))
            + cell(localTime(claim.since)) + cell(age(secondsSince(claim.since, made))) + QStringLiteral("</tr>");
    html += findings(ReportPage::tr("Claims in doubt"),
        ReportPage::tr("The program that claimed these CPU ids ended before it recorded the action: the board may or "
                       "may not have been written. Check each board (read it back or set it aside), then release its "
                       "claim:"),
        figures.fromLineDatabase ? QStringLiteral("korvane-line release CPUID --reason \"…\"")
                                 : QStringLiteral("korvane-trace release CPUID --reason \"…\" ") + figures.source,
        { ReportPage::tr("CPU id"), ReportPage::tr("Station"), ReportPage::tr("Since"), ReportPage::tr("Age") }, rows,
        figures.inDoubt.size(), figures.inDoubtCount);

    rows.clear();
    for (const BrokenChain &chain : figures.brokenChains)
        rows += QStringLiteral("<tr data-broken-chain>") + cell(escaped(chain.station))
            + cell(chain.day.toString(Qt::ISODate)) + cell(QString::number(chain.record)) + cell(escaped(chain.why))
            + QStringLiteral("</tr>");
    html += findings(ReportPage::tr("Broken chains"),
        ReportPage::tr("A record is missing, was changed or came out of order. Check the station's trace file of "
                       "that day, which names the first bad line:"),
        QStringLiteral("korvane-trace verify trace/TraceYYYYMMDD.jsonl"),
        { ReportPage::tr("Station"), ReportPage::tr("Day"),
            figures.fromLineDatabase ? ReportPage::tr("Record") : ReportPage::tr("Line"), ReportPage::tr("Why") },
        rows, figures.brokenChains.size(), figures.brokenChainCount);

    rows.clear();
    for (const WrittenTwice &twice : figures.writtenTwice) {
        QStringList times;
        for (const QString &time : twice.times)
            times.append(localTime(time));
        QStringList stations;
        for (const QString &station : twice.stations)
            stations.append(escaped(station));
        rows += QStringLiteral("<tr data-written-twice>") + cell(command(twice.cpuId))
            + cell(stations.join(QStringLiteral("<br>"))) + cell(times.join(QStringLiteral("<br>")))
            + QStringLiteral("</tr>");
    }
    html += findings(ReportPage::tr("CPU ids written twice"),
        ReportPage::tr("A successful Basic action wrote each of these boards more than once. Set the boards aside; "
                       "every record of one shows when and where:"),
        figures.fromLineDatabase ? QStringLiteral("korvane-line find CPUID")
                                 : QStringLiteral("korvane-trace find CPUID ") + figures.source,
        { ReportPage::tr("CPU id"), ReportPage::tr("Written on"), ReportPage::tr("At") }, rows,
        figures.writtenTwice.size(), figures.writtenTwiceCount);
    return html + QStringLiteral("</section>");
}

// An open end of the period is shown as the day of its first or last record.
QString periodText(const Figures &figures)
{
    const auto [from, to] = daysOf(figures);
    if (!from.isValid() && !to.isValid())
        return ReportPage::tr("no records");
    if (from == to)
        return from.toString(Qt::ISODate);
    return ReportPage::tr("%1 to %2").arg(from.isValid() ? from.toString(Qt::ISODate) : QStringLiteral("…"),
        to.isValid() ? to.toString(Qt::ISODate) : QStringLiteral("…"));
}

} // namespace

QString ReportPage::exitCodeMeaning(qint32 exitCode)
{
    switch (exitCode) {
    case ExitCode::Success:
        return tr("success");
    case ExitCode::WriteCpuIdFailed:
        return tr("Basic: the board did not take the encrypted CPU id");
    case ExitCode::EncryptCpuIdFailed:
        return tr("Basic: the plug-in refused to encrypt the CPU id");
    case ExitCode::InvalidCpuIdSize:
        return tr("Basic: the board's OTP data holds no valid CPU id");
    case ExitCode::ReadCpuIdFailed:
        return tr("Basic: the CPU id could not be read from the board");
    case ExitCode::WriteProofDataFailed:
        return tr("Middle: the board did not take the proof data");
    case ExitCode::EncryptDataFailed:
        return tr("Middle: the plug-in refused to encrypt the data");
    case ExitCode::WriteProofKeyFailed:
        return tr("High: the board did not take the OEM key");
    case ExitCode::ReadKeyFileFailed:
        return tr("Basic or High: the key file could not be read");
    case ExitCode::ReadDataFileFailed:
        return tr("Middle: the data file could not be read");
    case ExitCode::InvalidDataSize:
        return tr("Middle: the data file grew beyond 65535 bytes");
    case ExitCode::DuplicateCpuId:
        return tr("Basic: the CPU id was already written or is in doubt");
    case ExitCode::LineDatabaseUnreachable:
        return tr("Basic: the line database did not answer");
    case ExitCode::TraceNotWritable:
        return tr("Basic: the CPU id could not be claimed in the trace folder");
    case ExitCode::InvalidLevel:
        return tr("an action of no known level");
    }
    return tr("an exit code this program does not know");
}

bool ReportPage::write(const QString &path, const QByteArray &html, QString *reason)
{
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isFile()) {
        *reason = QStringLiteral("%1: not a regular file").arg(QDir::toNativeSeparators(path));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(html) != html.size() || !file.commit()) {
        *reason = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

QString ReportPage::writtenLine(const QString &path, const Figures &figures)
{
    // One arg() for all: a path may hold "%2" itself.
    return QStringLiteral("%1: %2 units, %3 actions")
        .arg(path, QString::number(figures.units), QString::number(figures.attempts));
}

QByteArray ReportPage::html(const Figures &figures, const QDateTime &made)
{
    QString stationNames;
    if (figures.period.stations.isEmpty()) {
        stationNames = tr("all stations");
    } else {
        QStringList names;
        for (const QString &station : figures.period.stations)
            names.append(escaped(station));
        stationNames = names.join(QStringLiteral(", "));
    }
    const QString title = tr("Line report, %1").arg(periodText(figures));
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"%1\"><head><meta charset=\"utf-8\">"
                                  "<meta name=\"viewport\" content=\"width=device-width\">"
                                  "<title>%2</title><style>%3</style></head><body>")
                       .arg(tr("en", "the page's language tag"), escaped(title), QString::fromUtf8(styleSheet));
    html += QStringLiteral("<header><h1>%1</h1><p class=\"subtitle\">%2</p><p class=\"note\">%3</p></header>")
                .arg(escaped(title), stationNames,
                    (figures.fromLineDatabase
                            ? tr("From the line database %1, read %2. Days are the stations' local days; times are "
                                 "this computer's local time.")
                            : tr("From the trace folder %1, read %2. Days are the stations' local days; times are "
                                 "this computer's local time."))
                        .arg(escaped(figures.source), made.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
    html += headline(figures);
    html += stationsAndDays(figures);
    html += failures(figures);
    html += throughput(figures);
    html += attention(figures, made);
    html += QStringLiteral("<p class=\"note\">%1</p></body></html>\n")
                .arg(tr("A unit is a CPU id; it counts on the station and day of its first Basic attempt in the "
                        "period, and passed the first time when that attempt did."));
    return html.toUtf8();
}
