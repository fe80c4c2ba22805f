// Start-up: Korvane's own main against a bare Qt Widgets program that shows an empty
// QMainWindow, both built the same way and linked with the same probe, both offscreen.
// Each is spawned in turn; a run lasts from the spawn to the first window exposed
// (Korvane has scanned the boards in its window's constructor by then). Korvane runs
// on its default set-up: one Loader board, the reference plug-in, the log file on.
// Peak memory is each process's maximum resident set size. A third program shows the
// window's form alone, to tell what the fixed widget tree costs from the tool's work.

#include "bench.h"
#include "median.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int runs = 15;

struct Run
{
    double milliseconds = 0;
    double peakMiB = 0;
};

qint64 monotonicNanoseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Spawns the program with its output on a pipe, reads the probe's time stamp and
// collects the process's resource usage when it has ended.
std::optional<Run> runOnce(const QByteArray &program)
{
    int output[2];
    if (pipe(output) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    posix_spawn_file_actions_addclose(&actions, output[1]);
    char *argv[] = { const_cast<char *>(program.constData()), nullptr };

    pid_t pid = 0;
    const qint64 start = monotonicNanoseconds();
    const int spawned = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (spawned != 0) {
        close(output[0]);
        return std::nullopt;
    }

    QByteArray text;
    char chunk[256];
    ssize_t got = 0;
    while ((got = read(output[0], chunk, sizeof chunk)) > 0)
        text.append(chunk, got);
    close(output[0]);
    int status = 0;
    rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;

    const qsizetype at = text.indexOf("shown ");
    if (at < 0)
        return std::nullopt;
    const qint64 shown = text.mid(at + 6).trimmed().split('\n').first().toLongLong();
    return Run { (shown - start) / 1e6, usage.ru_maxrss / 1024.0 };
}

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
            const std::optional<Run> run = runOnce(programs[i]);
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
