// korvane-cli for stations: the whole-process time of one Basic run, and in --loop the
// tool's own time per unit, from the board's attach to the result line, less the device
// calls that unit makes. A zero-delay simulated bench and the reference plug-in, in a
// folder of the build directory's disk so that the trace's flush is real.

#include "benchfailure.h"
#include "median.h"

#include "ZVUpgrade_DLL.h"
#include "bench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int runs = 30;
constexpr int units = 30;

QString stage;

// Attaches or detaches a board in this process, so that the clock starts right at the
// change the station is woken by.
void changeBoard(const QString &id, bool attach)
{
    const ZvSim::Bench bench(stage + QStringLiteral("/bench"));
    ZvSim::BenchState state;
    QString error;
    bool changed = bench.load(state, &error);
    if (changed && attach) {
        ZvSim::Board board;
        board.id = id;
        board.state = ZvSim::Loader;
        board.cpuId = ZvSim::defaultCpuId(id);
        changed = state.attach(board, &error);
    } else if (changed) {
        changed = state.detach(id);
    }
    if (!changed || !bench.save(state, &error))
        fail(QStringLiteral("cannot change board %1: %2").arg(id, error));
}

void writeConfig(bool trace)
{
    QFile config(stage + QStringLiteral("/config.json"));
    const QByteArray traceKeys = trace ? R"(, "TRACE": true, "DUPLICATE_CPUID": "refuse")" : "";
    if (!config.open(QIODevice::WriteOnly)
        || config.write(R"({"DLL": ")" + QByteArray(KORVANE_REFERENCE_PLUGIN) + '"' + traceKeys + "}") < 0)
        fail(QStringLiteral("cannot write config.json"));
}

QString cli()
{
    return stage + QStringLiteral("/korvane-cli");
}

// Reads the running loop's output up to a line that starts with prefix.
void readUntil(QProcess &loop, const QByteArray &prefix)
{
    while (true) {
        while (!loop.canReadLine()) {
            if (!loop.waitForReadyRead(10000))
                fail(QStringLiteral("no \"%1\" from the loop").arg(QString::fromLatin1(prefix)));
        }
        if (loop.readLine().startsWith(prefix))
            return;
    }
}

// What one Basic unit costs in device calls alone: the scan that finds the board, the
// read of its CPU id and the write of the encrypted id.
double deviceCallsMilliseconds()
{
    ZV_InitializeW(ZV_Settings {}, ZV_LogSettings {}, ZV_Extra {});
    std::vector<double> times;
    QElapsedTimer clock;
    uint8_t otp[ZV_OTP_LENGTH] = {};
    const uint8_t encrypted[16] = {};
    for (int i = 0; i < units; ++i) {
        clock.start();
        ZV_DeviceRecord *devices = nullptr;
        ZV_ScanDeviceW(&devices);
        ZV_ReadOtpData(otp, ZV_OTP_LENGTH, 0, 0);
        ZV_WriteVendorRpmbData(ZV_RPMB_VENDOR_CPUID, 0, encrypted, 16, 0);
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    ZV_Uninitialize();
    return median(times);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir directory(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_cli-XXXXXX"));
    if (!directory.isValid())
        fail(QStringLiteral("no temporary directory"));
    stage = directory.path();
    // A copy: config.json, log and trace are looked for beside the program.
    if (!QFile::copy(QStringLiteral(KORVANE_CLI), cli()))
        fail(QStringLiteral("cannot copy korvane-cli"));
    qputenv("ZVSIM_BENCH", QFile::encodeName(stage + QStringLiteral("/bench")));
    changeBoard(QStringLiteral("b0"), true);

    writeConfig(false);
    std::vector<double> wholeRuns;
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        QProcess run;
        clock.start();
        run.start(cli(), { "basic" });
        if (!run.waitForFinished() || run.exitCode() != 0)
            fail(QStringLiteral("korvane-cli basic failed: %1").arg(QString::fromUtf8(run.readAllStandardError())));
        wholeRuns.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("one korvane-cli basic run, start to exit: median %.1f ms over %d runs\n", median(wholeRuns), runs);

    changeBoard(QStringLiteral("b0"), false);
    writeConfig(true);
    QProcess loop;
    loop.start(cli(), { "basic", "--loop" });
    std::vector<double> perUnit;
    for (int i = 0; i < units; ++i) {
        readUntil(loop, "WAITING");
        const QString board = QStringLiteral("u%1").arg(i);
        clock.start();
        changeBoard(board, true);
        readUntil(loop, "RESULT basic ok");
        perUnit.push_back(clock.nsecsElapsed() / 1e6);
        changeBoard(board, false);
    }
    readUntil(loop, "WAITING");
    loop.terminate();
    loop.waitForFinished();
    const double device = deviceCallsMilliseconds();
    std::printf("--loop, attach to result line: median %.2f ms over %d units; device calls alone %.2f ms; "
                "the tool's own time per unit %.2f ms\n",
        median(perUnit), units, device, median(perUnit) - device);
    return 0;
}
