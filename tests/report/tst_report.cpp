#include "linetestmain.h"
#include "clistation.h"
#include "linedatabase.h"
#include "linetestserver.h"
#include "samplerecords.h"
#include "testenvironment.h"
#include "traceclaims.h"
#include "tracejournal.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString benchOne = u"bench-1"_s;
const QString benchTwo = u"bench-2"_s;
// A station name no page may take for markup.
const QString hostile = u"<script>alert(1)</script>"_s;
const QDate firstDay(2026, 12, 1);

// A record's time for a local time on a day of the line's week.
QString at(int day, int hour, int minute, int second = 0, int ms = 0)
{
    return QDateTime(firstDay.addDays(day - 1), QTime(hour, minute, second, ms))
        .toUTC()
        .toString(Qt::ISODateWithMs);
}

QString unit(int n)
{
    return u"a0%1"_s.arg(n, 30, 10, QChar(u'0'));
}

struct Action
{
    QString station;
    QString time;
    std::optional<QString> cpuId;
    qint32 exitCode;
    QString level;
    qint64 durationMs;
};

// The line's week: days 1, 2 and 4 (3 is empty). Unit 2 fails then passes; unit 3 ends
// day 1 a millisecond before midnight and unit 4 starts day 2 at it; a Basic action that
// read no CPU id is no unit; unit 1 comes back to be refused, then is written again on
// another station; units 6 and 10 fail on one station and pass on the other, and bench-2
// writes unit 6 twice; a board with an empty CPU id is no unit. Basic durations are 10,
// 20, ..., 170 ms.
QList<Action> week()
{
    const QString basic = u"basic"_s;
    return {
        { benchOne, at(1, 9, 0), unit(1), 0, basic, 10 },
        { benchOne, at(1, 9, 10), unit(2), -1, basic, 20 },
        { benchOne, at(1, 9, 11), unit(2), 0, basic, 30 },
        { benchOne, at(1, 10, 0), std::nullopt, 0, u"middle"_s, 100 },
        { benchOne, at(1, 23, 59, 59, 999), unit(3), 0, basic, 40 },
        { benchOne, at(2, 0, 0), unit(4), 0, basic, 50 },
        { benchOne, at(2, 8, 0), std::nullopt, -4, basic, 60 },
        { benchOne, at(2, 8, 1), unit(5), 0, basic, 70 },
        { benchOne, at(2, 9, 0), unit(1), -11, basic, 80 },
        { benchOne, at(4, 11, 0), unit(6), -2, basic, 90 },
        { benchTwo, at(2, 14, 0), unit(7), 0, basic, 100 },
        { benchTwo, at(2, 14, 5), std::nullopt, 0, u"high"_s, 40 },
        { benchTwo, at(2, 14, 6), std::nullopt, -7, u"high"_s, 7000 },
        { benchTwo, at(4, 11, 30), unit(6), 0, basic, 110 },
        { benchTwo, at(4, 12, 0), unit(1), 0, basic, 120 },
        { benchTwo, at(4, 12, 30), unit(6), 0, basic, 160 },
        { hostile, at(2, 15, 0), unit(8), 0, basic, 130 },
        { hostile, at(2, 15, 30), u""_s, 0, basic, 170 },
        { benchTwo, at(4, 13, 0), unit(10), -1, basic, 140 },
        { benchOne, at(4, 14, 0), unit(10), 0, basic, 150 },
    };
}

QString textOf(QString html)
{
    html.remove(QRegularExpression(u"<[^>]*>"_s));
    return html.replace(u"&lt;"_s, u"<"_s).replace(u"&gt;"_s, u">"_s).replace(u"&quot;"_s, u"\""_s).replace(u"&amp;"_s, u"&"_s);
}

QString sectionOf(const QString &page, const QString &id)
{
    const qsizetype start = page.indexOf(u"<section id=\"%1\">"_s.arg(id));
    return start < 0 ? QString() : page.mid(start, page.indexOf(u"</section>"_s, start) - start);
}

// The figures of a part of the page as "name=value", in order.
QStringList figuresOf(const QString &html)
{
    static const QRegularExpression figure(u"data-figure=\"([a-z0-9-]+)\" data-value=\"(-?\\d+)\""_s);
    QStringList figures;
    for (const QRegularExpressionMatch &match : figure.globalMatch(html))
        figures.append(match.captured(1) + u'=' + match.captured(2));
    return figures;
}

// The rows of a table marked with the attribute: each cell's figure value, else its text.
QStringList rowsOf(const QString &html, const QString &marker)
{
    static const QRegularExpression cell(u"<td[^>]*>(.*?)</td>"_s);
    static const QRegularExpression value(u"data-value=\"(-?\\d+)\""_s);
    QStringList rows;
    const QStringList parts = html.split(u"<tr "_s + marker);
    for (qsizetype i = 1; i < parts.size(); ++i) {
        QStringList cells;
        for (const QRegularExpressionMatch &match : cell.globalMatch(parts[i].left(parts[i].indexOf(u"</tr>"_s)))) {
            const QRegularExpressionMatch number = value.match(match.captured(1));
            cells.append(number.hasMatch() ? number.captured(1) : textOf(match.captured(1)));
        }
        rows.append(cells.join(u" | "_s));
    }
    return rows;
}

} // namespace

class ReportTest : public QObject
{
    Q_OBJECT

    TestEnvironment environment;
    LineTestServer server;
    std::unique_ptr<LineDatabase> admin;
    QMap<QString, QString> folders; // station: its trace folder

    QString page(const CliRun &result, const QString &path)
    {
        if (result.status != 0)
            qWarning().noquote() << result.out << result.err;
        return result.status == 0 ? QString::fromUtf8(readFile(path)) : QString();
    }

    QString lineReport(const QStringList &arguments, const QString &name = u"line.html"_s)
    {
        const QString path = environment.filePath(name);
        return page(runProgram(QStringLiteral(KORVANE_LINE_TOOL),
                        QStringList { u"report"_s, u"--db"_s, server.conninfo(), u"--html"_s, path, u"--lang"_s, u"en"_s }
                            + arguments),
            path);
    }

    QString traceReport(const QString &folder, const QStringList &arguments, const QString &name = u"trace.html"_s)
    {
        const QString path = environment.filePath(name);
        return page(runProgram(QStringLiteral(KORVANE_TRACE_TOOL),
                        QStringList { u"report"_s, folder, u"--html"_s, path, u"--lang"_s, u"en"_s } + arguments),
            path);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(server.start() && server.initSchema(), qPrintable(server.error()));
        admin = std::make_unique<LineDatabase>(server.conninfo());

        // Each station writes its own folder as a station's journal does; the supervisor
        // uploads them all.
        for (const Action &action : week()) {
            if (!folders.contains(action.station))
                folders.insert(action.station, environment.filePath(u"station-%1"_s.arg(folders.size() + 1)));
            TraceRecord record = SampleRecords::record(action.time, action.level, action.cpuId, action.exitCode);
            record.station = action.station;
            record.durationMs = action.durationMs;
            QVERIFY(TraceJournal(folders.value(action.station)).append(record));
        }
        const CliRun pushed = runProgram(QStringLiteral(KORVANE_LINE_TOOL),
            QStringList { u"push"_s, u"--db"_s, server.conninfo() } + folders.values());
        QVERIFY2(pushed.status == 0, qPrintable((pushed.out + pushed.err).join(u'\n')));

        // bench-1 died after claiming unit 9: in doubt in its folder and line-wide.
        const TraceClaim claim { unit(9), at(4, 13, 0), benchOne, u"BENCH-1"_s, 4242 };
        QCOMPARE(TraceClaims::create(folders.value(benchOne), claim), TraceClaims::Creation::Created);
        const LineDatabase::Result claimed = admin->exec(u"SELECT outcome FROM korvane.claim_cpu_id($1, $2, $3, $4, 4242, false)"_s,
            { claim.cpuId, claim.station, claim.since, claim.host });
        QVERIFY2(claimed.ok && claimed.rows.value(0).value(0) == u"claimed"_s, qPrintable(claimed.error));
    }

    void lineReportGivesTheKnownAnswer()
    {
        const QString all = lineReport({ u"--from"_s, u"2026-12-01"_s, u"--to"_s, u"2026-12-04"_s });
        QCOMPARE(figuresOf(sectionOf(all, u"headline"_s)),
            QStringList({ u"units=9"_s, u"first-pass-yield=6"_s, u"attempt-yield=14"_s, u"refused-duplicates=1"_s,
                u"claims-in-doubt=1"_s, u"broken-chains=0"_s, u"written-twice=2"_s }));
        QCOMPARE(rowsOf(sectionOf(all, u"stations"_s), u"data-station-day"_s),
            QStringList({ hostile + u" | 2026-12-02 | 1 | 1 | 2 | 0"_s, u"bench-1 | 2026-12-01 | 3 | 2 | 5 | 1"_s,
                u"bench-1 | 2026-12-02 | 2 | 2 | 4 | 2"_s, u"bench-1 | 2026-12-04 | 1 | 0 | 2 | 1"_s,
                u"bench-2 | 2026-12-02 | 1 | 1 | 3 | 1"_s, u"bench-2 | 2026-12-04 | 1 | 0 | 4 | 1"_s }));
        QVERIFY(!all.contains(u"<script"_s));
        // The most frequent first, equal counts by code.
        QStringList failures;
        for (const QString &row : rowsOf(sectionOf(all, u"failures"_s), u"data-exit-code"_s))
            failures.append(row.section(u" | "_s, 0, 0) + u'=' + row.section(u" | "_s, 2, 2));
        QCOMPARE(failures, QStringList({ u"-1=2"_s, u"-11=1"_s, u"-7=1"_s, u"-4=1"_s, u"-2=1"_s }));

        const QStringList throughput = figuresOf(sectionOf(all, u"throughput"_s));
        QStringList hours;
        for (const QString &figure : throughput) {
            if (figure.startsWith(u"units-written-"_s) && !figure.endsWith(u"=0"_s))
                hours.append(figure);
        }
        QCOMPARE(hours,
            QStringList({ u"units-written-00=1"_s, u"units-written-08=1"_s, u"units-written-09=2"_s,
                u"units-written-11=1"_s, u"units-written-12=2"_s, u"units-written-14=2"_s, u"units-written-15=1"_s,
                u"units-written-23=1"_s }));
        const QStringList cycles = rowsOf(sectionOf(all, u"throughput"_s), u"data-level"_s);
        QCOMPARE(cycles.size(), 3);
        QVERIFY2(cycles[0].startsWith(u"Basic | 17 | 90 | 170"_s), qPrintable(cycles[0]));
        QVERIFY2(cycles[1].startsWith(u"Middle | 1 | 100 | 100"_s), qPrintable(cycles[1]));
        QVERIFY2(cycles[2].startsWith(u"High | 2 | 40 | 7000"_s), qPrintable(cycles[2]));
        QVERIFY(throughput.contains(u"basic-bucket-4=1"_s) && throughput.contains(u"basic-bucket-5=3"_s)
            && throughput.contains(u"basic-bucket-6=5"_s) && throughput.contains(u"basic-bucket-7=8"_s));

        const QString attention = sectionOf(all, u"attention"_s);
        QCOMPARE(rowsOf(attention, u"data-claim"_s).value(0).section(u" | "_s, 0, 1), unit(9) + u" | bench-1"_s);
        QCOMPARE(rowsOf(attention, u"data-written-twice"_s).value(0).section(u" | "_s, 0, 0), unit(1));
        QVERIFY(attention.contains(u"korvane-line release"_s));

        // The period's last day ends at local midnight: unit 3 (a millisecond before) is
        // day 1's, unit 4 (at it) day 2's. Unit 1's first attempt in this period is its refusal.
        const QString dayTwo = lineReport({ u"--from"_s, u"2026-12-02"_s, u"--to"_s, u"2026-12-02"_s });
        QCOMPARE(figuresOf(sectionOf(dayTwo, u"headline"_s)).mid(0, 3),
            QStringList({ u"units=5"_s, u"first-pass-yield=4"_s, u"attempt-yield=6"_s }));
    }

    // One station's page reads the same from its trace folder and from the line database.
    void bothReportsAgreeOnAStation_data()
    {
        QTest::addColumn<QString>("station");
        QTest::addColumn<QStringList>("period");
        QTest::addColumn<QString>("headline");
        QTest::newRow("bench-1, all") << benchOne << QStringList()
                                      << u"units=7 first-pass-yield=5 attempt-yield=7 refused-duplicates=1 "
                                         "claims-in-doubt=1 broken-chains=0 written-twice=0"_s;
        QTest::newRow("bench-1, to day 2") << benchOne << QStringList { u"--to"_s, u"2026-12-02"_s }
                                           << u"units=5 first-pass-yield=4 attempt-yield=6 refused-duplicates=1 "
                                              "claims-in-doubt=1 broken-chains=0 written-twice=0"_s;
        QTest::newRow("bench-2, day 4") << benchTwo << QStringList { u"--from"_s, u"2026-12-04"_s }
                                        << u"units=3 first-pass-yield=2 attempt-yield=3 refused-duplicates=0 "
                                           "claims-in-doubt=0 broken-chains=0 written-twice=1"_s;
        QTest::newRow("hostile name") << hostile << QStringList()
                                      << u"units=1 first-pass-yield=1 attempt-yield=2 refused-duplicates=0 "
                                         "claims-in-doubt=0 broken-chains=0 written-twice=0"_s;
    }

    void bothReportsAgreeOnAStation()
    {
        QFETCH(QString, station);
        QFETCH(QStringList, period);
        QFETCH(QString, headline);
        const QString fromLine = lineReport(QStringList { u"--station"_s, station } + period);
        const QString fromTrace = traceReport(folders.value(station), period);
        QCOMPARE(figuresOf(sectionOf(fromTrace, u"headline"_s)).join(u' '), headline);
        for (const QString &section : { u"headline"_s, u"stations"_s, u"failures"_s, u"throughput"_s }) {
            QCOMPARE(figuresOf(sectionOf(fromLine, section)), figuresOf(sectionOf(fromTrace, section)));
            QCOMPARE(rowsOf(sectionOf(fromLine, section), u"data-station-day"_s),
                rowsOf(sectionOf(fromTrace, section), u"data-station-day"_s));
        }
        // Neither page lets a record's text become markup.
        for (const QString &html : { fromLine, fromTrace }) {
            QVERIFY(!html.contains(u"<script"_s));
            QVERIFY(!html.contains(u"http:"_s) && !html.contains(u"https:"_s));
        }
    }

    void brokenFilesAndChainsAreShown()
    {
        // A record taken out of a copy of bench-2's day 2: its folder's page names the line.
        const QString copy = environment.filePath(u"broken"_s);
        QVERIFY(QDir().mkpath(copy));
        const QString name = Trace::fileNameFor(firstDay.addDays(1));
        QList<QByteArray> lines = readFile(folders.value(benchTwo) + u'/' + name).split('\n');
        lines.removeAt(1);
        environment.writeFile(u"broken/"_s + name, lines.join('\n'));
        QCOMPARE(rowsOf(traceReport(copy, {}), u"data-broken-chain"_s),
            QStringList { u"bench-2 | 2026-12-02 | 2 | seq 3 where 2 was expected"_s });

        const LineDatabase::Result inserted = admin->exec(
            u"INSERT INTO korvane.broken_chains (station, day, seq, why, line) VALUES ($1, '2026-12-04', 7, $2, 'x')"_s,
            { hostile, u"record 6 is missing <b>"_s });
        QVERIFY2(inserted.ok, qPrintable(inserted.error));
        const QString fromLine = lineReport({ u"--from"_s, u"2026-12-04"_s, u"--station"_s, hostile });
        QCOMPARE(rowsOf(fromLine, u"data-broken-chain"_s),
            QStringList { hostile + u" | 2026-12-04 | 7 | record 6 is missing <b>"_s });
        QVERIFY(!fromLine.contains(u"<script"_s) && !fromLine.contains(u"<b>"_s));
        QVERIFY(admin->exec(u"DELETE FROM korvane.broken_chains"_s).ok);
    }

    void emptyAndUnusable()
    {
        // A line database without a record, and a period without one.
        LineTestServer empty;
        QVERIFY2(empty.start() && empty.initSchema(), qPrintable(empty.error()));
        // A file name that holds what a format string would take for its own.
        const QString path = environment.filePath(u"empty %2.html"_s);
        const CliRun emptyRun = runProgram(QStringLiteral(KORVANE_LINE_TOOL),
            { u"report"_s, u"--db"_s, empty.conninfo(), u"--html"_s, path, u"--lang"_s, u"en"_s });
        QCOMPARE(emptyRun.out, QStringList { path + u": 0 units, 0 actions"_s });
        const QString blank = page(emptyRun, path);
        QCOMPARE(figuresOf(sectionOf(blank, u"headline"_s)).join(u' '),
            u"units=0 first-pass-yield=0 attempt-yield=0 refused-duplicates=0 claims-in-doubt=0 broken-chains=0 written-twice=0"_s);
        QVERIFY(blank.contains(u"No records in this period."_s));
        const QString past = lineReport({ u"--to"_s, u"2020-01-01"_s });
        QVERIFY(past.contains(u"No records in this period."_s));
        QCOMPARE(figuresOf(sectionOf(past, u"headline"_s)).value(5), u"broken-chains=0"_s);

        // What must not be written over, a wrong day, and a period the wrong way round.
        const QString folder = environment.filePath(u"a-folder"_s);
        QVERIFY(QDir().mkpath(folder));
        const CliRun onFolder = runProgram(QStringLiteral(KORVANE_TRACE_TOOL),
            { u"report"_s, folders.value(benchOne), u"--html"_s, folder });
        QCOMPARE(onFolder.status, 1);
        QVERIFY2(onFolder.err.join(u' ').contains(u"not a regular file"_s), qPrintable(onFolder.err.join(u' ')));
        for (const QStringList &arguments : { QStringList { u"--from"_s, u"2026-12-1"_s },
                 QStringList { u"--from"_s, u"2026-12-04"_s, u"--to"_s, u"2026-12-01"_s },
                 QStringList { u"--to"_s, u"2026-12-01T00:00"_s } }) {
            QCOMPARE(runProgram(QStringLiteral(KORVANE_LINE_TOOL),
                         QStringList { u"report"_s, u"--html"_s, path } + arguments).status, 3);
            QCOMPARE(runProgram(QStringLiteral(KORVANE_TRACE_TOOL),
                         QStringList { u"report"_s, folders.value(benchOne), u"--html"_s, path } + arguments).status, 2);
        }
    }

    // A report the server takes long to add up is waited for; connecting stays quick.
    void aSlowAnswerIsWaitedFor()
    {
        using namespace std::chrono_literals;
        LineDatabase database(server.conninfo(), 300ms);
        QString reason;
        QVERIFY2(database.connect(&reason), qPrintable(reason));
        const QString slow = u"SELECT pg_sleep(0.6)"_s;
        QVERIFY(!database.exec(slow).ok);
        database.setAnswerTimeout(30s);
        const LineDatabase::Result waited = database.exec(slow);
        QVERIFY2(waited.ok, qPrintable(waited.error));
    }

    void chineseOnRequestAndByTheSystemLanguage()
    {
        const QString chinese = lineReport({ u"--lang"_s, u"zh_CN"_s }, u"zh.html"_s);
        QVERIFY(chinese.contains(u"<html lang=\"zh-CN\">"_s));
        QVERIFY(chinese.contains(u"首次通过率"_s));
        // The figures do not depend on the language.
        QCOMPARE(figuresOf(chinese), figuresOf(lineReport({}, u"en.html"_s)));
#ifndef Q_OS_WIN
        QProcess process;
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        variables.insert(u"LANGUAGE"_s, u"zh_CN"_s);
        variables.insert(u"LC_ALL"_s, u"zh_CN.UTF-8"_s);
        process.setProcessEnvironment(variables);
        const QString path = environment.filePath(u"system.html"_s);
        process.start(QStringLiteral(KORVANE_TRACE_TOOL), { u"report"_s, folders.value(benchOne), u"--html"_s, path });
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(readFile(path).contains("<html lang=\"zh-CN\">"));
#endif
    }

    // Debian's Chromium, headless: the page it loads shows the figures of the file, with
    // no element a record's text made, and it prints.
    void aBrowserShowsThePage()
    {
#ifdef Q_OS_WIN
        QSKIP("the browser here is Debian's Chromium, a Linux program; the Linux run loads the same page");
#else
        const QString chromium = qEnvironmentVariable("KORVANE_TEST_CHROMIUM", u"/usr/bin/chromium"_s);
        QVERIFY2(QFileInfo(chromium).isExecutable(), "no Chromium: install the package chromium");
        const QString html = lineReport({}, u"browser.html"_s);
        const QString url = QUrl::fromLocalFile(environment.filePath(u"browser.html"_s)).toString();
        const QStringList common { u"--headless"_s, u"--no-sandbox"_s, u"--disable-gpu"_s, u"--no-first-run"_s,
            u"--disable-background-networking"_s, u"--disable-component-update"_s, u"--disable-sync"_s,
            u"--user-data-dir="_s + environment.filePath(u"chromium"_s) };
        const CliRun dom = runProgram(chromium, common + QStringList { u"--dump-dom"_s, url });
        QCOMPARE(dom.status, 0);
        const QString loaded = dom.out.join(u'\n');
        QCOMPARE(figuresOf(loaded), figuresOf(html));
        QVERIFY(figuresOf(loaded).contains(u"units=9"_s));
        QVERIFY(!loaded.contains(u"<script"_s));
        QVERIFY(loaded.contains(u"&lt;script&gt;alert(1)&lt;/script&gt;"_s));

        const QString png = environment.filePath(u"page.png"_s);
        QCOMPARE(runProgram(chromium, common + QStringList { u"--window-size=1000,1400"_s, u"--screenshot="_s + png, url }).status, 0);
        const QImage image(png);
        QCOMPARE(image.size(), QSize(1000, 1400));
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 20) {
            for (int x = 0; x < image.width(); x += 20)
                colours.insert(image.pixel(x, y));
        }
        QVERIFY2(colours.size() >= 6, "the screenshot is nearly blank");

        const QString pdf = environment.filePath(u"page.pdf"_s);
        QCOMPARE(runProgram(chromium, common + QStringList { u"--no-pdf-header-footer"_s, u"--print-to-pdf="_s + pdf, url }).status, 0);
        const QByteArray printed = readFile(pdf);
        const qsizetype pages = printed.count("/Type /Page") - printed.count("/Type /Pages");
        QVERIFY2(pages >= 1 && pages <= 5, qPrintable(u"%1 pages"_s.arg(pages)));
#endif
    }
};

KORVANE_LINE_TEST_MAIN(ReportTest, QGuiApplication)
#include "tst_report.moc"
