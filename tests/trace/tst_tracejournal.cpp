#include "samplerecords.h"
#include "tracejournal.h"
#include "traceverifier.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#ifdef Q_OS_LINUX
#include <dlfcn.h>
#endif

#include <memory>

using namespace SampleRecords;

Q_DECLARE_METATYPE(TraceRecord)

namespace {

using Outcome = CpuIdClaim::Outcome;

#ifdef Q_OS_LINUX
// The files and directories this program had the system put on the disk.
QList<ino_t> syncedInodes;
#endif

} // namespace

#ifdef Q_OS_LINUX
// Every fsync() of this program comes here first, then goes on to the system's.
extern "C" int fsync(int descriptor)
{
    struct stat status;
    if (fstat(descriptor, &status) == 0)
        syncedInodes.append(status.st_ino);
    static const auto systemFsync = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return systemFsync(descriptor);
}
#endif

class TraceJournalTest : public QObject
{
    Q_OBJECT

    // Trace files written once for the index of written CPU ids.
    QTemporaryDir writtenDir;
    std::unique_ptr<TraceJournal> written;
    // Each test's own folder.
    std::unique_ptr<QTemporaryDir> dir;

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void initTestCase()
    {
        QVERIFY(writtenDir.isValid());
        struct
        {
            int day;
            const char *level;
            std::optional<QString> cpuId;
            qint32 exitCode;
            const char *station;
        } const records[] = {
            { 5, "basic", QStringLiteral("aa01"), 0, "Bench 1" },
            { 5, "middle", QStringLiteral("bb02"), 0, "Bench 1" },
            { 5, "basic", QStringLiteral("cc03"), -2, "Bench 1" },
            { 5, "basic", QStringLiteral(""), 0, "Bench 1" },
            { 5, "basic", std::nullopt, 0, "Bench 1" },
            { 5, "middle", QStringLiteral("ee05"), 0,
                "x\",\"level\":\"basic\",\"exit_code\":0,\"cpu_id\":\"ee05" },
            { 6, "basic", QStringLiteral("aa01"), 0, "Bench 2" },
            { 6, "basic", QStringLiteral("cc03"), 0, "Bench 2" },
            { 6, "basic", QStringLiteral("ab07"), 0, "\",\"cpu_id\":\"0bad" },
            { 6, "basic", QStringLiteral("ff06"), -11, "\",\"exit_code\":0,\"" },
        };
        TraceJournal writer(writtenDir.path());
        int second = 0;
        for (const auto &fields : records) {
            TraceRecord record = SampleRecords::record(
                utc(fields.day, second++), QLatin1String(fields.level), fields.cpuId, fields.exitCode);
            record.station = QString::fromUtf8(fields.station);
            QVERIFY(writer.append(record));
        }
        // A successful Basic record cut off before its closing brace, and one in a file
        // whose name is not a trace file's.
        QByteArray cut
            = Trace::formatLine(record(utc(6, 59), QStringLiteral("basic"), QStringLiteral("9907")));
        cut.chop(1);
        QVERIFY(write(writtenDir.filePath(fileName(6)), cut, QIODevice::Append));
        QVERIFY(write(writtenDir.filePath(QStringLiteral("Trace2024030.jsonl")),
            Trace::formatLine(record(utc(7), QStringLiteral("basic"), QStringLiteral("1234"))) + '\n'));

        // A day's file an editor saved on a Windows PC: a BOM and CRLF line ends.
        const QByteArray saved = Trace::formatLine(record(utc(8), QStringLiteral("basic"), QStringLiteral("ed17")));
        QVERIFY(write(writtenDir.filePath(fileName(8)), "\xEF\xBB\xBF" + saved + "\r\n"));

        written = std::make_unique<TraceJournal>(writtenDir.path());
        written->loadWrittenCpuIds();
    }

    void appendChainsRecordsInTheFileOfTheirLocalDate()
    {
        const QString traceDir = dir->filePath(QStringLiteral("trace"));
        TraceJournal journal(traceDir);
        // Either side of 10:00 UTC, where the date changes at UTC+14.
        const QString times[] = { "2024-03-05T09:59:58.000Z", "2024-03-05T09:59:59.999Z",
            "2024-03-05T10:00:00.000Z", "2024-03-05T10:00:01.000Z", "2024-03-06T10:00:00.000Z" };
        QMap<QString, QList<QByteArray>> files;
        for (const QString &time : times) {
            TraceRecord record = SampleRecords::record(time);
            QVERIFY(journal.append(record));
            QList<QByteArray> &lines = files[Trace::fileNameFor(
                QDateTime::fromString(time, Qt::ISODateWithMs).toLocalTime().date())];
            QCOMPARE(record.seq, lines.size() + 1);
            QCOMPARE(record.prev, lines.isEmpty() ? Trace::firstPrev : Trace::sha256Hex(lines.constLast()));
            lines.append(Trace::formatLine(record));
        }
        if (qgetenv("TZ") == "Pacific/Kiritimati") {
            QCOMPARE(files.keys(),
                QStringList({ "Trace20240305.jsonl", "Trace20240306.jsonl", "Trace20240307.jsonl" }));
        }
        // The lock files are gone again.
        QCOMPARE(QDir(traceDir).entryList(QDir::Files | QDir::Hidden), files.keys());
        for (auto file = files.cbegin(); file != files.cend(); ++file)
            QCOMPARE(readFile(QDir(traceDir).filePath(file.key())), file.value().join('\n') + '\n');
    }

    // The chain goes on past the cut lines, and korvane-trace verify passes over them,
    // naming each. Which lines count as cut off is tst_tracetool's cutOffLine.
    void appendAfterCutOffLine_data()
    {
        QTest::addColumn<int>("complete");
        QTest::addColumn<QByteArray>("cut");
        const QByteArray line = Trace::formatLine(record(utc(5, 30)));
        QTest::newRow("only a cut line") << 0 << line.left(60);
        // The append after a cut was cut as well, and the disk left zeros after it.
        QTest::newRow("cut twice, then zeros")
            << 2 << line.left(50) + '\n' + line.left(70) + QByteArray(30, '\0');
    }

    void appendAfterCutOffLine()
    {
        QFETCH(int, complete);
        QFETCH(QByteArray, cut);
        TraceJournal journal(dir->path());
        const QString path = dir->filePath(fileName(5));
        QByteArray before;
        for (int i = 0; i < complete; ++i) {
            TraceRecord record = SampleRecords::record(utc(5, i));
            QVERIFY(journal.append(record));
            before += Trace::formatLine(record) + '\n';
        }
        QVERIFY(write(path, cut, QIODevice::Append));

        TraceRecord next = record(utc(5, 40));
        QVERIFY(journal.append(next));
        const QByteArray content = readFile(path);
        QCOMPARE(content, before + cut + '\n' + Trace::formatLine(next) + '\n');
        // The whole chain checked, next's seq and prev included.
        const TraceVerification verification = verifyTrace(content);
        QCOMPARE(verification.badLine, 0);
        QCOMPARE(verification.records, complete + 1);
        QList<qsizetype> cutLines;
        for (qsizetype i = 0; i <= cut.count('\n'); ++i)
            cutLines.append(complete + 1 + i);
        QCOMPARE(verification.cutOffLines, cutLines);
    }

    // An end the journal did not write: power lost between a record's closing brace and its
    // line end, or an editor's BOM and CRLF line ends. The chain goes on from the record's own bytes.
    void appendAfterChangedEnd_data()
    {
        QTest::addColumn<bool>("editorSaved");
        QTest::newRow("no line end") << false;
        QTest::newRow("saved by an editor") << true;
    }

    void appendAfterChangedEnd()
    {
        QFETCH(bool, editorSaved);
        TraceJournal journal(dir->path());
        const QString path = dir->filePath(fileName(5));
        TraceRecord first = record(utc(5, 0)), second = record(utc(5, 1));
        QVERIFY(journal.append(first) && journal.append(second));
        QByteArray changed = readFile(path);
        if (editorSaved)
            changed = "\xEF\xBB\xBF" + changed.replace("\n", "\r\n");
        else
            changed.chop(1);
        QVERIFY(write(path, changed));

        TraceRecord next = record(utc(5, 2));
        QVERIFY(journal.append(next));
        QCOMPARE(next.seq, 3);
        QCOMPARE(next.prev, Trace::sha256Hex(Trace::formatLine(second)));
        QCOMPARE(readFile(path), changed + (editorSaved ? "" : "\n") + Trace::formatLine(next) + '\n');
    }

    void lineRoundTrip_data()
    {
        QTest::addColumn<TraceRecord>("record");
        TraceRecord full = record(utc(5), QStringLiteral("middle"));
        full.seq = 9007199254740992; // the largest whole number a JSON double keeps exactly
        full.board = QStringLiteral("Loader");
        full.keyIndex = 255;
        full.dataSize = 65535;
        full.dataSha256 = Trace::sha256Hex("data");
        full.exitCode = -11;
        full.durationMs = 0;
        full.prev = Trace::sha256Hex("previous line");
        QTest::newRow("every field") << full;

        TraceRecord nulls = record(utc(5), QStringLiteral("high"), std::nullopt);
        nulls.seq = 1;
        nulls.keyFingerprint.reset();
        nulls.pluginSha256.clear();
        nulls.prev = Trace::firstPrev;
        QTest::newRow("null fields") << nulls;

        TraceRecord text = nulls;
        text.cpuId = QString();
        text.station = QStringLiteral("工位 \"三\" C:\\keys\\ \\\" \t/\x01");
        text.plugin = QStringLiteral("加密插件.dll");
        QTest::newRow("text to escape, empty cpu id") << text;
    }

    void lineRoundTrip()
    {
        QFETCH(TraceRecord, record);
        const QByteArray line = Trace::formatLine(record);
        QVERIFY(!line.contains('\n'));
        const ParsedTraceLine parsed = Trace::parseLine(line);
        QVERIFY2(parsed.record, qPrintable(parsed.problem));
        // Every field is written, so a field read wrongly changes the line.
        QCOMPARE(Trace::formatLine(*parsed.record), line);
        // Cut short anywhere, zeros after the cut or not, it is a cut-off line; whole, it is not.
        QVERIFY(!Trace::isCutOffLine(line));
        for (qsizetype length = 1; length < line.size(); ++length) {
            QVERIFY2(Trace::isCutOffLine(line.left(length)), line.left(length).constData());
            QVERIFY2(
                Trace::isCutOffLine(line.left(length) + QByteArray(3, '\0')), line.left(length).constData());
        }
    }

    void cpuIdWrittenAt_data()
    {
        QTest::addColumn<QString>("cpuId");
        QTest::addColumn<QString>("time"); // empty: not written
        QTest::newRow("first of two days") << "aa01" << utc(5, 0);
        QTest::newRow("after a failed one") << "cc03" << utc(6, 7);
        QTest::newRow("station names another id") << "ab07" << utc(6, 8);
        QTest::newRow("another level") << "bb02" << QString();
        QTest::newRow("empty id") << "" << QString();
        QTest::newRow("station says basic") << "ee05" << QString();
        QTest::newRow("id in a station") << "0bad" << QString();
        QTest::newRow("station says exit code 0") << "ff06" << QString();
        QTest::newRow("cut-off line") << "9907" << QString();
        QTest::newRow("not a trace file") << "1234" << QString();
        QTest::newRow("saved by an editor") << "ed17" << utc(8);
    }

    void cpuIdWrittenAt()
    {
        QFETCH(QString, cpuId);
        QFETCH(QString, time);
        QCOMPARE(written->cpuIdWrittenAt(cpuId).value_or(QString()), time);
    }

    void claimSettledByTheActionsRecord_data();
    void claimSettledByTheActionsRecord();
    void claimLeftByADeadProgram_data();
    void claimLeftByADeadProgram();
    void claimUnavailable_data();
    void claimUnavailable();

    // A record reported written survives a power cut: its file, and a new file's entry.
    void appendHasTheRecordOnTheDisk()
    {
#ifndef Q_OS_LINUX
        QSKIP("the system's flush calls are counted on Linux");
#else
        TraceJournal journal(dir->path());
        TraceRecord first = record(utc(5));
        syncedInodes.clear();
        QVERIFY(journal.append(first));
        struct stat file, directory;
        QCOMPARE(stat(QFile::encodeName(dir->filePath(fileName(5))).constData(), &file), 0);
        QCOMPARE(stat(QFile::encodeName(dir->path()).constData(), &directory), 0);
        QVERIFY(syncedInodes.contains(file.st_ino));
        QVERIFY(syncedInodes.contains(directory.st_ino));
#endif
    }
};

void TraceJournalTest::claimSettledByTheActionsRecord_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<qint32>("exitCode");
    QTest::addColumn<bool>("recordWritten");
    QTest::addColumn<bool>("boardMayBeWritten");
    QTest::addColumn<Outcome>("nextClaim"); // by another program on the folder
    QTest::newRow("written") << "basic" << 0 << true << true << Outcome::AlreadyWritten;
    // Once recorded, whether the board may have been written no longer matters.
    QTest::newRow("failed") << "basic" << -2 << true << true << Outcome::Claimed;
    QTest::newRow("another level") << "middle" << 0 << true << true << Outcome::Claimed;
    QTest::newRow("no record after the write") << "basic" << 0 << false << true << Outcome::InDoubt;
    QTest::newRow("no record, board untouched") << "basic" << -2 << false << false << Outcome::Claimed;
}

void TraceJournalTest::claimSettledByTheActionsRecord()
{
    QFETCH(QString, level);
    QFETCH(qint32, exitCode);
    QFETCH(bool, recordWritten);
    QFETCH(bool, boardMayBeWritten);
    QFETCH(Outcome, nextClaim);
    TraceJournal journal(dir->path()), other(dir->path());
    journal.loadWrittenCpuIds();
    other.loadWrittenCpuIds();

    TraceRecord record = SampleRecords::record(utc(5), level, QStringLiteral("c1a1"), exitCode);
    // Later attempts at the same board.
    const auto later
        = [&](int second) { return SampleRecords::record(utc(5, second), record.level, record.cpuId); };
    QCOMPARE(journal.claim(record).outcome, Outcome::Claimed);
    // While the action runs, the other program may not take the board.
    const CpuIdClaim meanwhile = other.claim(later(1));
    QCOMPARE(meanwhile.outcome, Outcome::InDoubt);
    QCOMPARE(meanwhile.time, record.time);
    QCOMPARE(meanwhile.station, record.station);

    // The day's file turned into a folder: the record cannot be written.
    const QString dayFile = dir->filePath(fileName(5));
    if (!recordWritten)
        QVERIFY(QDir().mkpath(dayFile));
    QCOMPARE(journal.append(record, boardMayBeWritten), recordWritten);
    if (!recordWritten)
        QVERIFY(QDir().rmdir(dayFile));
    // The append itself keeps this program's index in step, before any file is read again.
    QCOMPARE(journal.cpuIdWrittenAt(*record.cpuId).has_value(), nextClaim == Outcome::AlreadyWritten);
    QCOMPARE(QFileInfo::exists(TraceClaims::directoryOf(dir->path()) + "/c1a1.json"), nextClaim == Outcome::InDoubt);
    QCOMPARE(other.claim(later(2)).outcome, nextClaim);
    // This program never writes a board again that may carry its data.
    QCOMPARE(journal.claim(later(3)).outcome,
        nextClaim == Outcome::AlreadyWritten ? Outcome::AlreadyWritten : Outcome::InDoubt);
}

void TraceJournalTest::claimLeftByADeadProgram_data()
{
    QTest::addColumn<std::optional<qint32>>("recordExitCode"); // of the record found later
    QTest::addColumn<Outcome>("afterRestart");
    QTest::newRow("no record") << std::optional<qint32>() << Outcome::InDoubt;
    QTest::newRow("written") << std::optional<qint32>(0) << Outcome::AlreadyWritten;
    QTest::newRow("failed") << std::optional<qint32>(-2) << Outcome::Claimed;
}

void TraceJournalTest::claimLeftByADeadProgram()
{
    QFETCH(std::optional<qint32>, recordExitCode);
    QFETCH(Outcome, afterRestart);
    const QString cpuId = QStringLiteral("dead01");
    TraceClaim claim = TraceClaims::ownClaim(cpuId, utc(5), QStringLiteral("Bench 1"));
    claim.pid = 0; // its program died before its record left it
    QCOMPARE(TraceClaims::create(dir->path(), claim), TraceClaims::Creation::Created);
    if (recordExitCode) {
        // Killed after its record, before it removed the claim.
        TraceRecord record = SampleRecords::record(utc(5), QStringLiteral("basic"), cpuId, *recordExitCode);
        QVERIFY(TraceJournal(dir->path()).append(record, false));
    }

    TraceJournal restarted(dir->path());
    restarted.loadWrittenCpuIds();
    QCOMPARE(QFileInfo::exists(TraceClaims::directoryOf(dir->path()) + "/dead01.json"), !recordExitCode);
    const CpuIdClaim answer = restarted.claim(SampleRecords::record(utc(6), QStringLiteral("basic"), cpuId));
    QCOMPARE(answer.outcome, afterRestart);
    QCOMPARE(answer.time, afterRestart == Outcome::Claimed ? QString() : utc(5));
}

void TraceJournalTest::claimUnavailable_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("trace is a file") << "trace file";
    QTest::newRow("time not a date") << "bad time";
    QTest::newRow("day file is a folder") << "day folder";
    QTest::newRow("a foreign line at the end") << "foreign line";
    QTest::newRow("damage beyond the tail the journal reads") << "long damage";
#ifdef Q_OS_UNIX
    QTest::newRow("day file is a pipe") << "day pipe";
#endif
}

void TraceJournalTest::claimUnavailable()
{
    QFETCH(QString, damage);
    const QString traceDir = dir->filePath(QStringLiteral("trace"));
    QVERIFY(QDir().mkpath(traceDir));
    const QString dayFile = QDir(traceDir).filePath(fileName(5));
    TraceRecord first = record(utc(5, 0), QStringLiteral("basic"), QStringLiteral("f00d"));
    QVERIFY(TraceJournal(traceDir).append(first));
    TraceRecord next = record(utc(5, 1), QStringLiteral("basic"), QStringLiteral("beef"));
    if (damage == "trace file") {
        QVERIFY(QDir(traceDir).removeRecursively());
        QVERIFY(write(traceDir, "not a folder"));
    } else if (damage == "bad time") {
        QVERIFY(QDir(traceDir).removeRecursively());
        next.time = QStringLiteral("yesterday");
    } else if (damage == "day folder") {
        QVERIFY(QFile::remove(dayFile) && QDir().mkpath(dayFile));
    } else if (damage == "foreign line") {
        QVERIFY(write(dayFile, "garbage inserted by someone\n", QIODevice::Append));
    } else if (damage == "long damage") {
        // A record cut short, then more than the journal reads back before giving up.
        QVERIFY(write(dayFile, "{\"seq\":2," + QByteArray(TraceJournal::maxTailRead + 1, 'x'), QIODevice::Append));
    } else if (damage == "day pipe") {
#ifdef Q_OS_UNIX
        QVERIFY(QFile::remove(dayFile));
        QCOMPARE(mkfifo(QFile::encodeName(dayFile).constData(), 0600), 0);
#endif
    }

    TraceJournal journal(traceDir);
    journal.loadWrittenCpuIds();
    QCOMPARE(journal.claim(next).outcome, Outcome::Unavailable);
    QVERIFY(!QFileInfo::exists(TraceClaims::directoryOf(traceDir) + "/beef.json"));
    QVERIFY(!journal.append(next, false));
    // The board was never written: nothing keeps it from the next attempt.
    QVERIFY(!journal.cpuIdWrittenAt(*next.cpuId));
    // No record says so, but this program knows that a board it may have written was.
    QVERIFY(!journal.append(next));
    QCOMPARE(journal.cpuIdWrittenAt(*next.cpuId), next.time);
    // Nothing was made or replaced on the way.
    if (damage == "trace file")
        QCOMPARE(readFile(traceDir), QByteArray("not a folder"));
    if (damage == "bad time")
        QVERIFY(!QFileInfo::exists(traceDir));
}

QTEST_GUILESS_MAIN(TraceJournalTest)
#include "tst_tracejournal.moc"
