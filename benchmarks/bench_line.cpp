// What the line database costs a station, against throwaway servers on loopback started
// as the tests start them (scripts/line-server.sh: TLS, SCRAM, fsync off):
//  1. one Basic unit: the claim before the write and the upload of the action's record
//     that settles it, through LineStation; on a server alone, on a primary with a
//     synchronous standby, and on that pair with the login's commits asynchronous;
//  2. eight stations at once on one server, each a thread with a LineStation, a trace and
//     a login of its own, every other unit a CPU id all of them race for: units per second,
//     and CPU ids written twice;
//  3. the window's start with "LINE_DB" naming a server that never answers, against the
//     same start without it, with an empty trace and with records waiting.

#include "linedatabase.h"
#include "lineschema.h"
#include "linestation.h"
#include "linetestserver.h"
#include "lineupload.h"
#include "benchfailure.h"
#include "median.h"
#include "startuprun.h"
#include "tracejournal.h"

#include "bench.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int warmUpUnits = 20;
constexpr int measuredUnits = 300;
constexpr int stations = 8;
constexpr int unitsPerStation = 150;
constexpr int startupRuns = 11;
constexpr int waitingRecords = 5000;

// The value below which the given share of the values lie.
double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(share * double(values.size() - 1) + 0.5)];
}

QString spread(const std::vector<double> &values)
{
    return QStringLiteral("median %1 ms (10th-90th percentile %2-%3 ms)")
        .arg(median(values), 0, 'f', 2)
        .arg(percentile(values, 0.1), 0, 'f', 2)
        .arg(percentile(values, 0.9), 0, 'f', 2);
}

// On the build directory's disk, as a station's trace would be: a temporary folder may be
// in memory, and the trace's and the upload cursor's flushes would cost nothing there.
std::unique_ptr<QTemporaryDir> stage()
{
    auto directory = std::make_unique<QTemporaryDir>(
        QCoreApplication::applicationDirPath() + QStringLiteral("/bench_line-XXXXXX"));
    if (!directory->isValid())
        fail(QStringLiteral("no temporary directory"));
    return directory;
}

QString cpuIdOf(const QString &name)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).left(16).toHex());
}

TraceRecord unitRecord(const QString &station, const QString &cpuId)
{
    TraceRecord record;
    record.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    record.station = station;
    record.tool = QStringLiteral("bench_line");
    record.level = QStringLiteral("basic");
    record.board = QStringLiteral("Loader");
    record.cpuId = cpuId;
    return record;
}

// A server (and its standby) with the schema, the roles and a login per station.
void prepare(LineTestServer &server, int logins)
{
    if (!server.start())
        fail(server.error());
    LineDatabase admin(server.conninfo());
    QString reason;
    if (!LineSchema::init(admin, true, nullptr, &reason))
        fail(reason);
    for (int i = 1; i <= logins; ++i) {
        if (!server.createLogin(QStringLiteral("bench-%1").arg(i), QStringLiteral("pw-%1").arg(i),
                QStringLiteral("korvane_station")))
            fail(server.error());
    }
}

struct UnitTimes
{
    std::vector<double> claim, upload, both;
    std::vector<double> statement; // the upload's statement alone, without the station's bookkeeping
};

// Units of one station one after the other, each with a CPU id of its own: what the line
// adds to a unit is the claim and the upload; the local record between them is not timed.
UnitTimes unitsOn(const QString &conninfo, const QString &station)
{
    const auto trace = stage();
    TraceJournal journal(trace->path());
    LineStation line(conninfo, trace->path(), LineOfflinePolicy::Refuse);
    UnitTimes times;
    QElapsedTimer clock;
    for (int i = 0; i < warmUpUnits + measuredUnits; ++i) {
        TraceRecord record = unitRecord(station, cpuIdOf(QStringLiteral("%1 %2").arg(station).arg(i)));
        clock.start();
        const LineClaim claim = line.claim(record, false);
        const double claimed = clock.nsecsElapsed() / 1e6;
        if (claim.outcome != LineClaim::Outcome::Claimed)
            fail(QStringLiteral("claim not taken: %1").arg(claim.reason));
        if (!journal.append(record))
            fail(QStringLiteral("cannot append to the trace"));
        clock.start();
        const LineState state = line.uploadWaiting();
        const double uploaded = clock.nsecsElapsed() / 1e6;
        if (!state.online || state.waiting != 0)
            fail(QStringLiteral("upload failed: %1").arg(state.reason));
        if (i >= warmUpUnits) {
            times.claim.push_back(claimed);
            times.upload.push_back(uploaded);
            times.both.push_back(claimed + uploaded);
        }
    }
    // The same records' statement once more, for a chain of their own: the server's part.
    const QString day = QDate::currentDate().toString(Qt::ISODate);
    QString prev = Trace::firstPrev;
    for (int i = 0; i < warmUpUnits + measuredUnits; ++i) {
        TraceRecord record = unitRecord(station + QStringLiteral(" statement"), cpuIdOf(QString::number(i)));
        record.seq = i + 1;
        record.prev = prev;
        const QByteArray text = Trace::formatLine(record);
        prev = Trace::sha256Hex(text);
        clock.start();
        const LineUpload::Answer answer = LineUpload::uploadLine(line.database(), day, text);
        if (answer.outcome != LineUpload::Answer::Outcome::Stored)
            fail(QStringLiteral("statement failed: %1").arg(answer.why));
        if (i >= warmUpUnits)
            times.statement.push_back(clock.nsecsElapsed() / 1e6);
    }
    return times;
}

void reportUnits(const char *where, const UnitTimes &times)
{
    std::printf("  %s: claim + upload %s; claim %.2f ms, upload %.2f ms, of which the statement %.2f ms "
                "(medians)\n",
        where, qPrintable(spread(times.both)), median(times.claim), median(times.upload),
        median(times.statement));
}

void perUnit()
{
    std::printf(
        "== one Basic unit, the line database's share (%d units after %d)\n", measuredUnits, warmUpUnits);
    {
        LineTestServer alone;
        prepare(alone, 1);
        reportUnits(
            "server alone", unitsOn(alone.conninfo(QStringLiteral("bench-1")), QStringLiteral("alone")));
    }
    LineTestServer pair(LineTestServer::Standby);
    prepare(pair, 2);
    reportUnits("primary with a synchronous standby",
        unitsOn(pair.multiHostConninfo(QStringLiteral("bench-1")), QStringLiteral("synchronous")));
    LineDatabase admin(pair.multiHostConninfo());
    if (!admin.exec(QStringLiteral("ALTER ROLE \"bench-2\" SET synchronous_commit = local")).ok)
        fail(QStringLiteral("cannot make bench-2's commits asynchronous"));
    reportUnits("the same pair, commits not waiting for the standby",
        unitsOn(pair.multiHostConninfo(QStringLiteral("bench-2")), QStringLiteral("asynchronous")));
}

struct StationResult
{
    std::vector<double> units;
    QString error;
};

void parallelStations()
{
    std::printf("== %d stations at once on one server, %d units each, every other CPU id shared by all\n",
        stations, unitsPerStation);
    LineTestServer server;
    prepare(server, stations);

    std::mutex writesMutex;
    std::map<QString, int> writes;
    std::promise<void> go;
    const std::shared_future<void> started = go.get_future().share();
    std::vector<StationResult> results(stations);
    std::vector<std::thread> threads;
    for (int s = 0; s < stations; ++s) {
        threads.emplace_back([&, s] {
            StationResult &result = results[size_t(s)];
            const QString station = QStringLiteral("station %1").arg(s + 1);
            const auto trace = stage();
            TraceJournal journal(trace->path());
            LineStation line(server.conninfo(QStringLiteral("bench-%1").arg(s + 1)), trace->path(),
                LineOfflinePolicy::Refuse);
            QString reason;
            if (!line.database().connect(&reason)) {
                result.error = reason;
                return;
            }
            started.wait();
            QElapsedTimer clock;
            for (int i = 0; i < unitsPerStation; ++i) {
                clock.start();
                const QString name = i % 2 ? QStringLiteral("shared %1").arg(i)
                                           : QStringLiteral("%1 %2").arg(station).arg(i);
                TraceRecord record = unitRecord(station, cpuIdOf(name));
                const LineClaim claim = line.claim(record, false);
                if (claim.outcome == LineClaim::Outcome::Unreachable) {
                    result.error = claim.reason;
                    return;
                }
                if (claim.outcome == LineClaim::Outcome::Claimed) {
                    const std::lock_guard<std::mutex> lock(writesMutex);
                    ++writes[*record.cpuId];
                } else {
                    record.exitCode = -11;
                }
                const LineState state = journal.append(record) ? line.uploadWaiting() : LineState();
                if (!state.online || state.waiting != 0) {
                    result.error = QStringLiteral("upload failed: %1").arg(state.reason);
                    return;
                }
                result.units.push_back(clock.nsecsElapsed() / 1e6);
            }
        });
    }
    QElapsedTimer wall;
    wall.start();
    go.set_value();
    for (std::thread &thread : threads)
        thread.join();
    const double seconds = wall.nsecsElapsed() / 1e9;

    std::vector<double> units;
    for (const StationResult &result : results) {
        if (!result.error.isEmpty())
            fail(result.error);
        units.insert(units.end(), result.units.begin(), result.units.end());
    }
    int twice = 0;
    for (const auto &written : writes)
        twice += written.second > 1;
    const int distinct = stations * (unitsPerStation / 2) + (unitsPerStation - unitsPerStation / 2);
    LineDatabase admin(server.conninfo());
    const LineDatabase::Result onServer = admin.exec(QStringLiteral(
        "SELECT (SELECT count(*) FROM (SELECT cpu_id FROM korvane.records WHERE level = 'basic'"
        " AND exit_code = 0 GROUP BY cpu_id HAVING count(*) > 1) t),"
        " (SELECT count(*) FROM korvane.claims WHERE state = 'open'),"
        " (SELECT count(*) FROM korvane.records)"));
    if (!onServer.ok)
        fail(onServer.error);
    const QStringList counts = onServer.rows.value(0);
    std::printf("  %.0f units per second (%zu units in %.2f s); one unit, claim + record + upload: %s\n",
        double(units.size()) / seconds, units.size(), seconds, qPrintable(spread(units)));
    std::printf("  CPU ids written: %zu of %d; written twice: %d at the stations, %s on the server; "
                "claims left open: %s; records on the server: %s of %zu\n",
        writes.size(), distinct, twice, qPrintable(counts.value(0)), qPrintable(counts.value(1)),
        qPrintable(counts.value(2)), units.size());
    if (twice != 0 || counts.value(0) != QLatin1String("0") || int(writes.size()) != distinct)
        fail(QStringLiteral("a CPU id was written twice, or never"));
}

// Records of earlier days in the form the journal writes, chained, none uploaded yet.
void writeWaitingTrace(const QString &directory, int records)
{
    QDir().mkpath(directory);
    constexpr int days = 5;
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-days - 1);
    for (int day = 0; day < days; ++day) {
        const QDateTime noon = start.addDays(day);
        QFile file(QDir(directory).filePath(Trace::fileNameFor(noon.toLocalTime().date())));
        if (!file.open(QIODevice::WriteOnly))
            fail(QStringLiteral("cannot write %1").arg(file.fileName()));
        QString prev = Trace::firstPrev;
        for (int i = 0; i < records / days; ++i) {
            TraceRecord record
                = unitRecord(QStringLiteral("station 1"), cpuIdOf(QStringLiteral("%1 %2").arg(day).arg(i)));
            record.time = noon.addSecs(i).toString(Qt::ISODateWithMs);
            record.seq = i + 1;
            record.prev = prev;
            const QByteArray line = Trace::formatLine(record);
            prev = Trace::sha256Hex(line);
            file.write(line + '\n');
        }
    }
}

void startup()
{
    std::printf("== window start, \"LINE_DB\" on a server that never answers against none (median of %d)\n",
        startupRuns);
    LineTestServer silent(LineTestServer::Silent);
    if (!silent.start())
        fail(silent.error());
    const QString silentDb
        = QStringLiteral("host=127.0.0.1 port=%1 dbname=korvane user=bench-1").arg(silent.port());

    const auto stageDirectory = stage();
    const QDir directory(stageDirectory->path());
    ZvSim::BenchState bench;
    ZvSim::Board board;
    board.id = QStringLiteral("b1");
    board.cpuId = ZvSim::defaultCpuId(board.id);
    QString error;
    if (!bench.attach(board, &error)
        || !ZvSim::Bench(directory.filePath(QStringLiteral("bench"))).save(bench, &error))
        fail(error);
    qputenv("ZVSIM_BENCH", directory.filePath(QStringLiteral("bench")).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");

    // Korvane keeps config.json, its log and its trace beside its executable.
    struct Staged
    {
        const char *name;
        bool line;
        int waiting;
        QByteArray program;
        std::vector<double> shown, exited;
    };
    std::vector<Staged> staged { { "without LINE_DB, empty trace", false, 0, {}, {}, {} },
        { "with LINE_DB, empty trace", true, 0, {}, {}, {} },
        { "without LINE_DB, records in the trace", false, waitingRecords, {}, {}, {} },
        { "with LINE_DB, records waiting", true, waitingRecords, {}, {}, {} } };
    for (size_t i = 0; i < staged.size(); ++i) {
        const QString folder = directory.filePath(QString::number(i));
        QDir().mkpath(folder);
        const QString copy = folder + QStringLiteral("/korvane");
        if (!QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/korvane_startup"), copy))
            fail(QStringLiteral("cannot copy korvane_startup"));
        QJsonObject config { { "APP_VERSION", "1.0.0" }, { "DLL", KORVANE_REFERENCE_PLUGIN }, { "LOG", true },
            { "TRACE", true }, { "DUPLICATE_CPUID", "refuse" }, { "STATION", "station 1" } };
        if (staged[i].line)
            config.insert(QStringLiteral("LINE_DB"), silentDb);
        QFile file(folder + QStringLiteral("/config.json"));
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(config).toJson()) < 0)
            fail(QStringLiteral("cannot write config.json"));
        if (staged[i].waiting > 0)
            writeWaitingTrace(folder + QStringLiteral("/trace"), staged[i].waiting);
        staged[i].program = QFile::encodeName(copy);
    }
    // One round more than measured: the first fills the page cache for all.
    for (int round = 0; round <= startupRuns; ++round) {
        for (Staged &program : staged) {
            const std::optional<StartupRun> run = runStartup(program.program);
            if (!run)
                fail(QStringLiteral("a start-up run %1 failed").arg(QLatin1String(program.name)));
            if (round > 0) {
                program.shown.push_back(run->milliseconds);
                program.exited.push_back(run->exitMilliseconds - run->milliseconds);
            }
        }
    }
    for (const Staged &program : staged)
        std::printf("  %s: shown after %s; ended %.0f ms after that\n", program.name,
            qPrintable(spread(program.shown)), median(program.exited));
    std::printf("  ratio with/without LINE_DB: %.2f with an empty trace, %.2f with %d records waiting (goal: "
                "at most 1.10)\n",
        median(staged[1].shown) / median(staged[0].shown), median(staged[3].shown) / median(staged[2].shown),
        waitingRecords);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    // Parts by name (units, stations, startup); all of them without.
    const QStringList parts = application.arguments().mid(1);
    if (parts.isEmpty() || parts.contains(QLatin1String("units")))
        perUnit();
    if (parts.isEmpty() || parts.contains(QLatin1String("stations")))
        parallelStations();
    if (parts.isEmpty() || parts.contains(QLatin1String("startup")))
        startup();
    return 0;
}
