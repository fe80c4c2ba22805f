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

// Appends the records through the journal, as Korvane does; returns their lines.
QList<QByteArray> journalRecords(const QString &directory, const QList<TraceRecord> &records)
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

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QList<TraceRecord> records;
        for (int i = 0; i < 6; ++i)
            records.append(record(utc(5, i)));
        lines = journalRecords(dir.path(), records);
        QCOMPARE(lines.size(), 6);
        file = fileName(5);
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

    // Whatever the values, a record cut short anywhere is a cut-off line, zeros after the
    // cut or not; the whole record is not.
    void everyStartOfARecordIsCutOff()
    {
        TraceRecord nulls = record(utc(5), QStringLiteral("basic"), std::nullopt, -11);
        nulls.keyFingerprint.reset();
        nulls.seq = 1;
        nulls.prev = Trace::firstPrev;
        TraceRecord values = record(utc(5), QStringLiteral("middle"));
        values.station = QStringLiteral("工位 \"1\"\\\t/\x01");
        values.keyIndex = 0;
        values.dataSize = 65535;
        values.dataSha256 = Trace::sha256Hex("data");
        values.seq = 1000;
        values.prev = Trace::sha256Hex("prev");
        for (const TraceRecord &whole : { nulls, values }) {
            const QByteArray line = Trace::formatLine(whole);
            QVERIFY2(Trace::parseLine(line).record, qPrintable(Trace::parseLine(line).problem));
            QVERIFY(!Trace::isCutOffLine(line));
            for (qsizetype length = 1; length < line.size(); ++length) {
                QVERIFY2(Trace::isCutOffLine(line.left(length)), line.left(length).constData());
                QVERIFY2(Trace::isCutOffLine(line.left(length) + QByteArray(3, '\0')),
                    line.left(length).constData());
            }
        }
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

    void verifyAcceptsJournalFiles()
    {
        const Run run = runTool({ "verify", file, file }, dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray(file.toUtf8() + ": 6 records verified\n").repeated(2));
        QCOMPARE(run.errors, QStringList());
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
        QTest::newRow("first record removed") << joined(lines.mid(1)) << 1 << "seq 2 where 1 was expected";
        QTest::newRow("edited record") << with(2, QByteArray(lines[2]).replace("Bench 1", "Bench 2")) << 4
                                       << "prev does not match line 3";
        QList<QByteArray> swapped = lines;
        swapped.swapItemsAt(2, 3);
        QTest::newRow("records swapped") << joined(swapped) << 3 << "seq 4 where 3 was expected";
        // The next record chains to the whole line, not around it.
        QTest::newRow("cut in the middle") << with(2, lines[2].left(100)) << 3 << "not JSON";
        QTest::newRow("not JSON") << with(2, "seq 3 was here") << 3 << "not JSON";
        QList<QByteArray> inserted = lines;
        inserted.insert(3, "garbage inserted by someone");
        QTest::newRow("line inserted") << joined(inserted) << 4 << "not JSON";
        QTest::newRow("line appended") << joined(lines) + "garbage inserted by someone\n" << 7 << "not JSON";
        QTest::newRow("line before the first") << "xx\n" + joined(lines) << 1 << "not JSON";
        QTest::newRow("only a line") << QByteArray("hello world") << 1 << "not JSON";
        QByteArray random(4096, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
        QTest::newRow("random bytes") << random << 1 << "not JSON";
        QTest::newRow("a record's start, then not") << joined(lines) + "{\"seq\":7,}\n" << 7 << "not JSON";
        QTest::newRow("empty") << QByteArray() << 1 << "no record: the file is empty";
        QTest::newRow("only a cut-off line") << lines[0].left(70) << 1 << "no record: only lines cut off";
        QTest::newRow("BOM added") << byteOrderMark + joined(lines) << 1 << "BOM added";
        QTest::newRow("CRLF") << joined(lines, "\r\n") << 1 << "line ends changed to CRLF";
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
        QTest::newRow("escaped letter") << with(2, QByteArray(lines[2]).replace("\"basic\"", "\"\\u0062asic\""))
                                        << 3 << "not in the form records are written in";
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

    // A power loss's cut at the end; cut lines between records are the journal's tests'.
    void verifyPassesOverPowerLoss()
    {
        QTemporaryDir lossDir;
        QVERIFY(lossDir.isValid());
        QVERIFY(write(lossDir.filePath(file), joined(lines.mid(0, 3)) + lines[0].left(70)));
        const Run run = runTool({ "verify", file }, lossDir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, file.toUtf8() + ": 3 records verified\n");
        QCOMPARE(run.errors, QStringList { file + ":4: cut-off line passed over" });
    }

    void verifyStopsAtUnreadableFile()
    {
        const Run run = runTool({ "verify", file, "missing.jsonl", file }, dir.path());
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, file.toUtf8() + ": 6 records verified\n");
        QCOMPARE(run.errors, QStringList { "missing.jsonl: cannot be read" });
    }

    void find_data()
    {
        QTest::addColumn<QString>("cpuId");
        QTest::addColumn<QList<int>>("found"); // indexes into the records below
        QTest::addColumn<int>("exitCode");
        QTest::newRow("upper case") << "AB12CD" << QList<int> { 0, 2, 4 } << 0;
        QTest::newRow("lower case") << "ab12cd" << QList<int> { 0, 2, 4 } << 0;
        QTest::newRow("only in a station") << "ee55" << QList<int>() << 1;
        QTest::newRow("part of an id") << "ab12" << QList<int>() << 1;
        QTest::newRow("none") << "0000" << QList<int>() << 1;
    }

    void find()
    {
        QFETCH(QString, cpuId);
        QFETCH(QList<int>, found);
        QFETCH(int, exitCode);
        QTemporaryDir findDir;
        QVERIFY(findDir.isValid());
        // Two days, written out of order: the older file comes first all the same.
        QList<TraceRecord> records = { record(utc(5, 0), "basic", QStringLiteral("ab12cd"), -2),
            record(utc(6, 1), "basic", QStringLiteral("77")),
            record(utc(6, 2), "middle", QStringLiteral("ab12cd")), record(utc(5, 3), "basic", std::nullopt),
            record(utc(6, 4), "basic", QStringLiteral("ab12cd")) };
        records[1].station = QStringLiteral("工位 ee55");
        QList<QByteArray> stored;
        for (const TraceRecord &record : records)
            stored.append(journalRecords(findDir.path(), { record }).value(0));
        // Neither a cut-off line nor another file is a record.
        QVERIFY(write(findDir.filePath(fileName(6)), stored[4].chopped(10), QIODevice::Append));
        QVERIFY(write(findDir.filePath(QStringLiteral("notes.jsonl")), joined(stored)));

        QByteArray expected;
        for (const int index : found)
            expected += stored[index] + '\n';
        const Run run = runTool({ "find", cpuId, findDir.path() }, dir.path());
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, expected);
        QCOMPARE(run.errors, QStringList());
    }

    // Opened and saved by an editor: find and summary take its records as they were written.
    void readersTakeEditedFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("BOM") << byteOrderMark + joined(lines);
        QTest::newRow("CRLF") << joined(lines, "\r\n");
        QTest::newRow("BOM and CRLF, last line end lost") << byteOrderMark + joined(lines, "\r\n").chopped(1);
    }

    void readersTakeEditedFile()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir editedDir;
        QVERIFY(editedDir.isValid());
        QVERIFY(write(editedDir.filePath(file), content));

        const Run found = runTool({ "find", "0A1B2C3D", editedDir.path() }, dir.path());
        QCOMPARE(found.exitCode, 0);
        QCOMPARE(found.out, joined(lines));
        const Run summary = runTool({ "summary", editedDir.path() }, dir.path());
        QCOMPARE(summary.exitCode, 0);
        QCOMPARE(QString::fromUtf8(summary.out).split(QLatin1Char('\n')).value(1),
            Trace::dateOfFileName(file).toString(Qt::ISODate) + "\tbasic\t6\t0");
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

    void summary()
    {
        QTemporaryDir summaryDir;
        QVERIFY(summaryDir.isValid());
        const struct
        {
            int day;
            const char *level;
            qint32 exitCode;
        } actions[] = { { 6, "middle", -6 }, { 5, "high", 0 }, { 5, "basic", 0 }, { 5, "basic", -2 },
            { 5, "basic", 0 }, { 6, "basic", 0 }, { 5, "high", -7 }, { 6, "high", 0 } };
        int second = 0;
        for (const auto &action : actions) {
            const TraceRecord written = record(
                utc(action.day, second++), QLatin1String(action.level), std::nullopt, action.exitCode);
            QCOMPARE(journalRecords(summaryDir.path(), { written }).size(), 1);
        }
        // Not a record: passed over.
        QVERIFY(write(summaryDir.filePath(fileName(5)), "{\"seq\":9,", QIODevice::Append));

        const auto day = [](int day) { return Trace::dateOfFileName(fileName(day)).toString(Qt::ISODate); };
        const Run run = runTool({ "summary", summaryDir.path() }, dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromUtf8(run.out).split(QLatin1Char('\n')),
            QStringList({ "day\tlevel\tpassed\tfailed", day(5) + "\tbasic\t2\t1", day(5) + "\thigh\t1\t1",
                day(6) + "\tbasic\t1\t0", day(6) + "\tmiddle\t0\t1", day(6) + "\thigh\t1\t0", "" }));
        QCOMPARE(run.errors, QStringList());

        QTemporaryDir emptyDir;
        QVERIFY(emptyDir.isValid());
        const Run empty = runTool({ "summary", emptyDir.path() }, dir.path());
        QCOMPARE(empty.exitCode, 0);
        QCOMPARE(empty.out, QByteArray("day\tlevel\tpassed\tfailed\n"));
    }

    void missingDirectory_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("find") << QStringList { "find", "ab12", "no-such-dir" };
        QTest::newRow("summary") << QStringList { "summary", "no-such-dir" };
        QTest::newRow("summary of a file") << QStringList { "summary", "empty.jsonl" };
    }

    void missingDirectory()
    {
        QFETCH(QStringList, arguments);
        QVERIFY(write(dir.filePath(QStringLiteral("empty.jsonl")), QByteArray()));
        const Run run = runTool(arguments, dir.path());
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.errors, QStringList { arguments.constLast() + ": no such directory" });
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

        // Who, when and why stay to be seen; the claim cannot be released twice.
        const Run found = runTool({ "find", "c1a1", traceDir.path() }, dir.path());
        QCOMPARE(found.exitCode, 0);
        QCOMPARE(found.out, TraceClaims::formatLine(releases.constFirst()) + '\n');
        const Run verified = runTool({ "verify", fileName(5) }, traceDir.path());
        QCOMPARE(verified.exitCode, 0);
        QVERIFY2(verified.out.contains("c1a1 in doubt since " + utc(5, 30).toUtf8() + " on Bench 2, released at "),
            verified.out.constData());
        QCOMPARE(runTool({ "release", "c1a1", "--reason", "again", traceDir.path() }, dir.path()).exitCode, 1);
    }

    void wrongUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown command") << QStringList { "check", "x.jsonl" };
        QTest::newRow("verify without files") << QStringList { "verify" };
        QTest::newRow("find with more") << QStringList { "find", "ab", ".", "." };
        QTest::newRow("release without a reason") << QStringList { "release", "ab12", "--reason", " " };
        QTest::newRow("a reason for find") << QStringList { "find", "ab12", "--reason", "x" };
    }

    void wrongUsage()
    {
        QFETCH(QStringList, arguments);
        const Run run = runTool(arguments, dir.path());
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QByteArray());
        QVERIFY2(run.errors.size() >= 2 && run.errors[1].startsWith(QStringLiteral("Usage: ")),
            qPrintable(run.errors.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TraceToolTest)
#include "tst_tracetool.moc"
