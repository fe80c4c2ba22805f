#include "samplerecords.h"
#include "traceclaims.h"
#include "tracejournal.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace SampleRecords;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QStringList errors; // stderr's lines
};

// Runs korvane-trace, in the given working directory so that file names can be relative.
Run runTool(const QStringList &arguments, const QString &workingDirectory,
    const QString &program = QStringLiteral(KORVANE_TRACE_TOOL))
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    // Text mode: Windows' line ends arrive as '\n'.
    process.start(program, arguments, QIODevice::ReadOnly | QIODevice::Text);
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.errors
        = QString::fromUtf8(process.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return run;
}

QByteArray joined(const QList<QByteArray> &lines, const QByteArray &lineEnd = "\n")
{
    return lines.join(lineEnd) + lineEnd;
}

const QByteArray byteOrderMark = "\xEF\xBB\xBF";

} // namespace

class TraceToolTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    // Six records of one day, as the journal wrote them.
    QList<QByteArray> lines;
    QString file;
    // Records of two days for find and summary, and their lines.
    QTemporaryDir days;
    QList<QByteArray> dayLines;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid() && days.isValid());
        QList<TraceRecord> records;
        for (int i = 0; i < 6; ++i)
            records.append(record(utc(5, i)));
        lines = journalRecords(dir.path(), records);
        QCOMPARE(lines.size(), 6);
        file = fileName(5);

        // The later day's file is begun first, and a level is written before a lower one.
        const QString id = QStringLiteral("ab12cd");
        records = { record(utc(6, 0), "middle", std::nullopt, -6), record(utc(5, 1), "basic", id, -2),
            record(utc(6, 2), "basic", QStringLiteral("77")), record(utc(6, 3), "middle", id),
            record(utc(5, 4), "high", std::nullopt, -7), record(utc(5, 5), "basic", std::nullopt),
            record(utc(6, 6), "basic", id), record(utc(6, 7), "high", std::nullopt) };
        records[2].station = QStringLiteral("工位 ee55");
        dayLines = journalRecords(days.path(), records);
        QCOMPARE(dayLines.size(), records.size());
        // Neither a cut-off line nor another file is a record.
        QVERIFY(write(days.filePath(fileName(6)), dayLines[6].chopped(10), QIODevice::Append));
        QVERIFY(write(days.filePath(QStringLiteral("notes.jsonl")), joined(dayLines)));
    }

    void splitLines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::addColumn<bool>("byteOrderMark");
        QTest::addColumn<int>("firstCarriageReturn");
        QTest::newRow("last line end lost")
            << QByteArray("a\n\nb") << QList<QByteArray> { "a", "", "b" } << false << -1;
        QTest::newRow("CRLF from line 2, lone CR at the end")
            << QByteArray("a\nb\r\n\r\nc\r") << QList<QByteArray> { "a", "b", "", "c" } << false << 1;
        QTest::newRow("CR inside a line")
            << QByteArray("a\rb\n") << QList<QByteArray> { "a\rb" } << false << -1;
        QTest::newRow("BOM") << byteOrderMark + "a\r\n" << QList<QByteArray> { "a" } << true << 0;
        QTest::newRow("BOM alone") << byteOrderMark << QList<QByteArray>() << true << -1;
        QTest::newRow("BOM on line 2")
            << "a\n" + byteOrderMark + "b" << QList<QByteArray> { "a", byteOrderMark + "b" } << false << -1;
    }

    void splitLines()
    {
        QFETCH(QByteArray, content);
        QFETCH(QList<QByteArray>, expected);
        QFETCH(bool, byteOrderMark);
        QFETCH(int, firstCarriageReturn);
        const Trace::Lines split = Trace::splitLines(content);
        QList<QByteArray> lines;
        for (const QByteArrayView line : split.lines)
            lines.append(line.toByteArray());
        QCOMPARE(lines, expected);
        QCOMPARE(split.byteOrderMark, byteOrderMark);
        QCOMPARE(split.firstCarriageReturn, qsizetype(firstCarriageReturn));
    }

    void cutOffLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("cutOff");
        const QByteArray whole = Trace::formatLine(record(utc(5)));
        QTest::newRow("zeros") << QByteArray(9, '\0') << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("record, then zeros") << whole + '\0' << false;
        QTest::newRow("record, then more") << whole + "{" << false;
        QTest::newRow("zeros inside") << QByteArray("{\"seq\":1\0,\"time\":", 17) << false;
        QTest::newRow("another key") << QByteArray("{\"sequence\":1") << false;
        QTest::newRow("seq a string") << QByteArray("{\"seq\":\"1") << false;
        QTest::newRow("leading zero") << QByteArray("{\"seq\":01") << false;
        QTest::newRow("comma twice") << QByteArray("{\"seq\":1,,") << false;
        QTest::newRow("spaced out") << QByteArray("{\"seq\": 1") << false;
        QTest::newRow("control character") << QByteArray("{\"seq\":1,\"time\":\"\t") << false;
        QTest::newRow("unknown escape") << QByteArray("{\"seq\":1,\"time\":\"\\x") << false;
    }

    void cutOffLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, cutOff);
        QCOMPARE(Trace::isCutOffLine(line), cutOff);
    }

    // Each file in turn, up to one that cannot be read. A power loss's cut at the end is
    // passed over; cut lines between records are the journal's tests'.
    void verifyReadsEachFile()
    {
        QVERIFY(write(dir.filePath("cut.jsonl"), joined(lines.mid(0, 3)) + lines[0].left(70)));
        const Run run = runTool({ "verify", file, "cut.jsonl", "missing.jsonl", file }, dir.path());
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, file.toUtf8() + ": 6 records verified\ncut.jsonl: 3 records verified\n");
        QCOMPARE(run.errors,
            QStringList({ "cut.jsonl:4: cut-off line passed over", "missing.jsonl: cannot be read" }));
    }

    void verifyFindsBrokenLine_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("why");

        const auto with = [this](int index, const QByteArray &line) {
            QList<QByteArray> changed = lines;
            changed[index] = line;
            return joined(changed);
        };
        QList<QByteArray> removed = lines;
        removed.removeAt(2);
        QTest::newRow("removed record") << joined(removed) << 3 << "seq 4 where 3 was expected";
        QTest::newRow("edited record") << with(2, QByteArray(lines[2]).replace("Bench 1", "Bench 2")) << 4
                                       << "prev does not match line 3";
        // The next record chains to the whole line, not around it.
        QTest::newRow("cut in the middle") << with(2, lines[2].left(100)) << 3 << "not JSON";
        QByteArray random(4096, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
        QTest::newRow("random bytes") << random << 1 << "not JSON";
        QTest::newRow("empty") << QByteArray() << 1 << "no record: the file is empty";
        QTest::newRow("only a cut-off line") << lines[0].left(70) << 1 << "no record: only lines cut off";
        QTest::newRow("BOM added") << byteOrderMark + joined(lines) << 1 << "BOM added";
        QTest::newRow("CRLF from line 5")
            << joined(lines.mid(0, 4)) + joined(lines.mid(4), "\r\n") << 5 << "line ends changed to CRLF";
        QTest::newRow("cut-off line with CRLF") << joined(lines) + lines[0].left(70) + "\r\n"
                                                << 7 << "line ends changed to CRLF";
        QTest::newRow("key missing") << with(2, QByteArray(lines[2]).replace(",\"board\":\"Maskrom\"", ""))
                                     << 3 << "key \"board\" missing";
        const QByteArray reordered = QByteArray(lines[2])
                                         .replace(",\"station\":\"Bench 1\"", "")
                                         .replace(",\"plugin\":", ",\"station\":\"Bench 1\",\"plugin\":");
        QTest::newRow("keys reordered") << with(2, reordered) << 3 << "keys out of order";
        // Valid JSON of the same values, but not as records are written: the start-up index
        // would not see it.
        QTest::newRow("spaced out") << with(2, QByteArray(lines[2]).replace("\"level\":", "\"level\": ")) << 3
                                    << "not in the form records are written in";
        const QByteArray notFirst
            = QByteArray(lines[0]).replace(Trace::firstPrev.toLatin1(), Trace::sha256Hex("x").toLatin1());
        QTest::newRow("first prev not zeros")
            << with(0, notFirst) << 1 << "prev of the first record is not 64 zeros";
    }

    void verifyFindsBrokenLine()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, line);
        QFETCH(QString, why);
        QVERIFY(write(dir.filePath(QStringLiteral("broken.jsonl")), content));
        const Run run = runTool({ "verify", "broken.jsonl" }, dir.path());
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.errors.size(), 1);
        QVERIFY2(run.errors[0].startsWith(QStringLiteral("broken.jsonl:%1: %2").arg(line).arg(why)),
            qPrintable(run.errors[0]));
    }

    void find_data()
    {
        QTest::addColumn<QString>("cpuId");
        QTest::addColumn<QList<int>>("found"); // indexes into dayLines: the older day's file first
        QTest::addColumn<int>("exitCode");
        QTest::newRow("upper case") << "AB12CD" << QList<int> { 1, 3, 6 } << 0;
        QTest::newRow("only in a station") << "ee55" << QList<int>() << 1;
        QTest::newRow("part of an id") << "ab12" << QList<int>() << 1;
    }

    void find()
    {
        QFETCH(QString, cpuId);
        QFETCH(QList<int>, found);
        QFETCH(int, exitCode);
        QByteArray expected;
        for (const int index : found)
            expected += dayLines[index] + '\n';
        const Run run = runTool({ "find", cpuId, days.path() }, dir.path());
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, expected);
        QCOMPARE(run.errors, QStringList());
    }

    // Opened and saved by an editor: find takes its records as they were written (summary
    // reads through the same walk; each of a BOM, CRLF and a lost line end is splitLines').
    void findTakesEditedFile()
    {
        QTemporaryDir editedDir;
        QVERIFY(editedDir.isValid());
        QVERIFY(write(editedDir.filePath(file), byteOrderMark + joined(lines, "\r\n").chopped(1)));
        const Run found = runTool({ "find", "0A1B2C3D", editedDir.path() }, dir.path());
        QCOMPARE(found.exitCode, 0);
        QCOMPARE(found.out, joined(lines));
    }

    void findInTheDirectoryBesideTheProgram()
    {
        // A copy of the program, with a trace directory beside it.
        QTemporaryDir programDir;
        QVERIFY(programDir.isValid());
        const QFileInfo original(QStringLiteral(KORVANE_TRACE_TOOL));
        const QString copy = programDir.filePath(original.fileName());
        QVERIFY(QFile::copy(original.filePath(), copy));
        const QList<QByteArray> stored = journalRecords(programDir.filePath(QStringLiteral("trace")),
            { record(utc(5, 0), "basic", QStringLiteral("c0ffee")) });
        QCOMPARE(stored.size(), 1);
        // Started in the original's directory, where Windows finds the Qt libraries.
        const Run found = runTool({ "find", "C0FFEE" }, original.absolutePath(), copy);
        QCOMPARE(found.exitCode, 0);
        QCOMPARE(found.out, joined(stored));
    }

    // Per day, and per level in the order of their numbers.
    void summary()
    {
        const auto day = [](int day) { return Trace::dateOfFileName(fileName(day)).toString(Qt::ISODate); };
        const Run run = runTool({ "summary", days.path() }, dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromUtf8(run.out).split(QLatin1Char('\n')),
            QStringList({ "day\tlevel\tpassed\tfailed", day(5) + "\tbasic\t1\t1", day(5) + "\thigh\t0\t1",
                day(6) + "\tbasic\t2\t0", day(6) + "\tmiddle\t1\t1", day(6) + "\thigh\t1\t0", "" }));
        QCOMPARE(run.errors, QStringList());

        QTemporaryDir emptyDir;
        QVERIFY(emptyDir.isValid());
        const Run empty = runTool({ "summary", emptyDir.path() }, dir.path());
        QCOMPARE(empty.exitCode, 0);
        QCOMPARE(empty.out, QByteArray("day\tlevel\tpassed\tfailed\n"));
    }

    void releaseEndsOnlyAClaimInDoubt_data()
    {
        QTest::addColumn<QString>("owner"); // of the claim
        QTest::addColumn<QString>("argument"); // the CPU id as given
        QTest::addColumn<int>("exitCode");
        QTest::newRow("died") << "died" << "C1A1" << 0;
        QTest::newRow("still running here") << "running" << "c1a1" << 1;
        QTest::newRow("made on another computer") << "elsewhere" << "c1a1" << 1;
        QTest::newRow("no claim") << "" << "c1a1" << 1;
        QTest::newRow("a path for a CPU id") << "died" << "../c1a1" << 1;
    }

    void releaseEndsOnlyAClaimInDoubt()
    {
        QFETCH(QString, owner);
        QFETCH(QString, argument);
        QFETCH(int, exitCode);
        QTemporaryDir traceDir;
        QVERIFY(traceDir.isValid());
        QCOMPARE(journalRecords(traceDir.path(), { record(utc(5, 0)) }).size(), 1);
        TraceClaim claim = TraceClaims::ownClaim(QStringLiteral("c1a1"), utc(5, 30), QStringLiteral("Bench 2"));
        if (owner == "died")
            claim.pid = 0;
        if (owner == "elsewhere")
            claim.host += QStringLiteral("-other");
        if (!owner.isEmpty())
            QCOMPARE(TraceClaims::create(traceDir.path(), claim), TraceClaims::Creation::Created);

        const Run released = runTool(
            { "release", argument, "--reason", "board read back: never written", traceDir.path() }, dir.path());
        QCOMPARE(released.exitCode, exitCode);
        QCOMPARE(TraceClaims::read(traceDir.path(), QStringLiteral("c1a1")).has_value(),
            !owner.isEmpty() && exitCode != 0);
        const QList<TraceRelease> releases = TraceClaims::releases(traceDir.path());
        QCOMPARE(releases.size(), exitCode == 0 ? 1 : 0);
        if (exitCode != 0)
            return;
        QCOMPARE(releases.constFirst().claim.since, claim.since);
        QCOMPARE(releases.constFirst().reason, "board read back: never written");
        QVERIFY(releases.constFirst().by.endsWith('@' + claim.host));

        // Who, when and why stay to be seen.
        const Run found = runTool({ "find", "c1a1", traceDir.path() }, dir.path());
        QCOMPARE(found.exitCode, 0);
        QCOMPARE(found.out, TraceClaims::formatLine(releases.constFirst()) + '\n');
        const Run verified = runTool({ "verify", fileName(5) }, traceDir.path());
        QCOMPARE(verified.exitCode, 0);
        QVERIFY2(verified.out.contains("c1a1 in doubt since " + utc(5, 30).toUtf8() + " on Bench 2, released at "),
            verified.out.constData());
    }

    // Exit status 2 and nothing on stdout; a wrong command line gets the usage after its reason.
    void refusedCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        const QString usage; // null: a wrong command line
        const QString missing = QStringLiteral("%1: no such directory");
        QTest::newRow("unknown command") << QStringList { "check", "x.jsonl" } << usage;
        QTest::newRow("verify without files") << QStringList { "verify" } << usage;
        QTest::newRow("find with more") << QStringList { "find", "ab", ".", "." } << usage;
        QTest::newRow("release without a reason")
            << QStringList { "release", "ab12", "--reason", " " } << usage;
        QTest::newRow("a reason for find") << QStringList { "find", "ab12", "--reason", "x" } << usage;
        QTest::newRow("find in no directory") << QStringList { "find", "ab", "none" } << missing.arg("none");
        QTest::newRow("summary of a file")
            << QStringList { "summary", fileName(5) } << missing.arg(fileName(5));
    }

    void refusedCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        const Run run = runTool(arguments, dir.path());
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QByteArray());
        if (!error.isNull())
            QCOMPARE(run.errors, QStringList { error });
        else
            QVERIFY2(run.errors.size() >= 2 && run.errors[1].startsWith(QStringLiteral("Usage: ")),
                qPrintable(run.errors.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TraceToolTest)
#include "tst_tracetool.moc"
