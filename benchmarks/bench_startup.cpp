// Start-up: Korvane's own main against a bare Qt Widgets program that shows an empty
// QMainWindow, both built the same way and linked with the same probe, both offscreen.
// Each is spawned in turn; a run lasts from the spawn to the first window exposed
// (Korvane has scanned the boards in its window's constructor by then). Korvane runs
// on its default set-up: one Loader board, the reference plug-in, the log file on.
// Peak memory is each process's maximum resident set size. A third program shows the
// window's form alone, to tell what the fixed widget tree costs from the tool's work.

#include "bench.h"
#include "median.h"
#include "startuprun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr int runs = 15;

bool writeConfig(const QString &path, const QString &plugin)
{
    const QJsonObject config { { "APP_VERSION", "1.0.0" }, { "DLL", plugin }, { "LOG", true } };
    QFile file(path);
    const QByteArray content = QJsonDocument(config).toJson();
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QDir binaries(QCoreApplication::applicationDirPath());

    // Korvane keeps config.json and its log beside its executable: the programs run
    // from copies in a directory of their own, so the build tree stays untouched.
    QTemporaryDir directory;
    const char *const names[] = { "korvane", "form", "bare" };
    QList<QByteArray> programs;
    bool staged = directory.isValid();
    for (const char *name : names) {
        const QString copy = directory.filePath(QLatin1String(name));
        staged = staged && QFile::copy(binaries.filePath(QLatin1String(name) + QStringLiteral("_startup")), copy);
        programs.append(QFile::encodeName(copy));
    }
    ZvSim::BenchState bench;
    ZvSim::Board board;
    board.id = QStringLiteral("b1");
    board.cpuId = ZvSim::defaultCpuId(board.id);
    QString error;
    if (!staged
        || !writeConfig(directory.filePath(QStringLiteral("config.json")), QString::fromUtf8(KORVANE_REFERENCE_PLUGIN))
        || !bench.attach(board, &error)
        || !ZvSim::Bench(directory.filePath(QStringLiteral("bench"))).save(bench, &error)) {
        std::fprintf(stderr, "cannot stage the start-up runs %s\n", qPrintable(error));
        return 1;
    }
    qputenv("ZVSIM_BENCH", directory.filePath(QStringLiteral("bench")).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");

    std::vector<double> times[3], memory[3];
    // One round more than measured: the first fills the page cache for all.
    for (int round = 0; round <= runs; ++round) {
        for (int i = 0; i < 3; ++i) {
            const std::optional<StartupRun> run = runStartup(programs[i]);
            if (!run) {
                std::fprintf(stderr, "a start-up run of %s failed\n", names[i]);
                return 1;
            }
            if (round > 0) {
                times[i].push_back(run->milliseconds);
                memory[i].push_back(run->peakMiB);
            }
        }
    }

    double time[3], peak[3];
    for (int i = 0; i < 3; ++i) {
        time[i] = median(times[i]);
        peak[i] = median(memory[i]);
    }
    std::printf("start-up to window shown, median of %d: korvane %.1f ms, its form alone %.1f ms, bare Qt %.1f ms\n",
        runs, time[0], time[1], time[2]);
    std::printf("ratio korvane/bare: %.2f (goal: at most 1.25); form alone/bare %.2f, korvane/form alone %.2f\n",
        time[0] / time[2], time[1] / time[2], time[0] / time[1]);
    std::printf("peak memory (max RSS), median of %d: korvane %.1f MiB, its form alone %.1f MiB, bare Qt %.1f MiB\n",
        runs, peak[0], peak[1], peak[2]);
    std::printf("ratio korvane/bare: %.2f (goal: at most 1.20); form alone/bare %.2f, korvane/form alone %.2f\n",
        peak[0] / peak[2], peak[1] / peak[2], peak[0] / peak[1]);
    return 0;
}
