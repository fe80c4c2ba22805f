// A week of a production line for the line report's screenshots (scripts/report-screenshots.sh):
// four stations write their trace folders through the stations' own journal, with the
// failures, retries, a refused duplicate, a board written twice during an outage and a claim
// in doubt that a line has, then upload them as the stations do. The same seed gives the
// same week.
//
// Usage: korvane-report-week FOLDER CONNINFO

#include "linedatabase.h"
#include "lineupload.h"
#include "traceclaims.h"
#include "tracejournal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>

#include <cstdio>

namespace {

struct Station
{
    QString name;
    double unitsPerHour;
    double readFailure; // -4: the CPU id could not be read
    double writeFailure; // -1
    bool provisionsKeys; // also Middle and High
    int stopsHoursAgo; // stopped this many hours ago while writing a board (0: still running)
};

const QList<Station> stations {
    { QStringLiteral("line-1 station-1"), 44, 0.012, 0.008, false, 0 },
    { QStringLiteral("line-1 station-2"), 40, 0.015, 0.030, false, 0 },
    { QStringLiteral("line-1 station-3"), 38, 0.010, 0.010, false, 3 },
    { QStringLiteral("line-1 station-4"), 20, 0.020, 0.012, true, 0 },
};

TraceRecord recordOf(const Station &station, const QDateTime &time, const QString &level)
{
    TraceRecord record;
    record.time = time.toUTC().toString(Qt::ISODateWithMs);
    record.station = station.name;
    record.tool = QStringLiteral("Korvane 1.0.0");
    record.plugin = QStringLiteral("korvane_aes.dll");
    record.pluginSha256 = Trace::sha256Hex("korvane_aes.dll 1.0.0");
    record.level = level;
    record.board = QStringLiteral("Loader");
    return record;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fputs("usage: korvane-report-week FOLDER CONNINFO\n", stderr);
        return 2;
    }
    const QDir root(arguments[1]);
    QRandomGenerator random(20261207);
    const QDateTime now = QDateTime::currentDateTime();
    const QDate today = now.date();
    quint64 serial = 0;
    const auto nextCpuId = [&] { return QStringLiteral("5eed%1").arg(++serial, 28, 16, QLatin1Char('0')); };
    QStringList failedOnStationOne; // retried on station 2
    QDateTime stationThreeStopped;

    for (const Station &station : stations) {
        const QString folder = root.filePath(station.name.section(QLatin1Char(' '), 1));
        TraceJournal journal(folder);
        const QDateTime stop = now.addSecs(-3600LL * station.stopsHoursAgo - 600);
        for (int day = -6; day <= 0; ++day) {
            const QDate date = today.addDays(day);
            if (date.dayOfWeek() == Qt::Sunday)
                continue;
            // Two shifts, 08:00 to 20:00 with a break at noon.
            QDateTime time(date, QTime(8, 0));
            const QDateTime end(date, QTime(20, 0));
            while (time < end && time < stop) {
                const double perHour = time.time().hour() == 12 ? station.unitsPerHour / 4 : station.unitsPerHour;
                time = time.addMSecs(qint64(3600000.0 / perHour * (0.6 + 0.8 * random.generateDouble())));
                const QString cpuId = nextCpuId();
                bool written = false;
                for (int attempt = 0; attempt < 3 && !written; ++attempt) {
                    TraceRecord record = recordOf(station, time, QStringLiteral("basic"));
                    record.durationMs = qint64(780 + 160 * random.generateDouble() + (attempt ? 120 : 0));
                    const double roll = random.generateDouble();
                    if (roll < station.readFailure) {
                        record.exitCode = -4;
                    } else {
                        record.cpuId = cpuId;
                        record.exitCode = roll < station.readFailure + station.writeFailure ? -1 : 0;
                    }
                    // A rare encryption refusal, and a line database outage on station 2.
                    if (record.exitCode == 0 && random.bounded(400) == 0)
                        record.exitCode = -2;
                    if (record.exitCode == 0 && station.name.endsWith(QLatin1Char('2')) && day == -3
                        && time.time().hour() == 15 && time.time().minute() < 20)
                        record.exitCode = -12;
                    written = record.exitCode == 0;
                    journal.append(record);
                    if (station.stopsHoursAgo > 0)
                        stationThreeStopped = time.addSecs(30);
                    time = time.addMSecs(record.durationMs + 4000);
                    // Station 1 sends a few failed boards over to station 2.
                    if (!written && station.name.endsWith(QLatin1Char('1')) && random.bounded(3) == 0) {
                        failedOnStationOne.append(cpuId);
                        break;
                    }
                }
                if (written && station.provisionsKeys) {
                    TraceRecord middle = recordOf(station, time, QStringLiteral("middle"));
                    middle.dataSize = 4096;
                    middle.dataSha256 = Trace::sha256Hex("proof data");
                    middle.durationMs = qint64(1500 + 300 * random.generateDouble());
                    middle.exitCode = random.bounded(150) == 0 ? -5 : 0;
                    journal.append(middle);
                    TraceRecord high = recordOf(station, time.addMSecs(middle.durationMs + 2000), QStringLiteral("high"));
                    high.keyIndex = 0;
                    high.durationMs = qint64(350 + 100 * random.generateDouble());
                    high.exitCode = random.bounded(200) == 0 ? -7 : 0;
                    journal.append(high);
                    time = time.addMSecs(middle.durationMs + high.durationMs + 4000);
                }
                // A board that came back to station 3: refused as written already.
                if (written && station.name.endsWith(QLatin1Char('3')) && day == -1 && random.bounded(60) == 0) {
                    TraceRecord again = recordOf(station, time, QStringLiteral("basic"));
                    again.cpuId = cpuId;
                    again.exitCode = -11;
                    again.durationMs = 40;
                    journal.append(again);
                }
            }
        }
    }

    // At the end of the week station 2 provisions the boards station 1 failed on.
    TraceJournal stationTwo(root.filePath(QStringLiteral("station-2")));
    const Station &two = stations[1];
    QDateTime late = now.addSecs(-540);
    for (const QString &cpuId : std::as_const(failedOnStationOne)) {
        TraceRecord record = recordOf(two, late, QStringLiteral("basic"));
        record.cpuId = cpuId;
        record.durationMs = 900;
        stationTwo.append(record);
        late = late.addSecs(12);
    }
    // Then a board station 4 had written already, on a day its line database was down.
    TraceRecord twice = recordOf(two, late.addSecs(30), QStringLiteral("basic"));
    twice.cpuId = QStringLiteral("5eed%1").arg(serial - 5, 28, 16, QLatin1Char('0'));
    twice.durationMs = 910;
    stationTwo.append(twice);

    LineDatabase database(arguments[2]);
    QString reason;
    if (!database.connect(&reason)) {
        std::fprintf(stderr, "korvane-report-week: %s\n", qPrintable(reason));
        return 1;
    }
    for (const QString &folder : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QString &path : Trace::filesIn(root.filePath(folder))) {
            const LineUpload::FileProgress progress = LineUpload::uploadFile(database, path, 0);
            if (!progress.complete) {
                std::fprintf(stderr, "korvane-report-week: %s: %s\n", qPrintable(path),
                    qPrintable(progress.failure.why));
                return 1;
            }
        }
    }

    // Station 3 was stopped while writing a board: its claim stays in doubt.
    const TraceClaim claim { nextCpuId(), stationThreeStopped.toUTC().toString(Qt::ISODateWithMs),
        stations[2].name, QStringLiteral("STATION-3"), 5120 };
    TraceClaims::create(root.filePath(QStringLiteral("station-3")), claim);
    const LineDatabase::Result claimed = database.exec(
        QStringLiteral("SELECT outcome FROM korvane.claim_cpu_id($1, $2, $3, $4, 5120, false)"),
        { claim.cpuId, claim.station, claim.since, claim.host });
    if (!claimed.ok) {
        std::fprintf(stderr, "korvane-report-week: %s\n", qPrintable(claimed.error));
        return 1;
    }
    return 0;
}
