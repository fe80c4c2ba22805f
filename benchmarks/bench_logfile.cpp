// How much the log handler costs beyond the open, append and close that every message
// needs: 20,000 lines from two threads through the installed handler, against a plain
// loop that opens, appends one line and closes the same kind of file 20,000 times.

#include "logmessagehandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>

namespace {

constexpr int lineCount = 20000;
constexpr int rounds = 7;
const QString message = QStringLiteral("write encoded data... board b1 slot 3");

// Wall time gives the rate; processor time, summed over the threads, shows the cost per
// line even when other work on the machine stretches the wall time.
struct Timing
{
    qint64 wallNs = -1;
    double cpuNs = 0;
};

class Stopwatch
{
public:
    Stopwatch()
        : cpuStart(std::clock())
    {
        wall.start();
    }
    Timing read() const
    {
        return { wall.nsecsElapsed(), double(std::clock() - cpuStart) * 1e9 / CLOCKS_PER_SEC };
    }

private:
    QElapsedTimer wall;
    std::clock_t cpuStart;
};

Timing handlerRun(const QDir &directory)
{
    setLogFileDirectory(directory.path());
    const QtMessageHandler previous = qInstallMessageHandler(logMessageHandler);
    const auto writer = [] {
        for (int i = 0; i < lineCount / 2; ++i)
            qDebug().noquote() << message;
    };
    const Stopwatch stopwatch;
    std::unique_ptr<QThread> first(QThread::create(writer));
    std::unique_ptr<QThread> second(QThread::create(writer));
    first->start();
    second->start();
    first->wait();
    second->wait();
    const Timing timing = stopwatch.read();
    qInstallMessageHandler(previous);
    return timing;
}

Timing plainRun(const QDir &directory)
{
    // The same bytes the handler writes for one message.
    const QByteArray line = QByteArray("09:41:07 052 [Debug] ") + message.toUtf8() + '\n';
    const QString path = directory.filePath(QStringLiteral("plain.log"));
    const Stopwatch stopwatch;
    for (int i = 0; i < lineCount; ++i) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size())
            return {};
        file.close();
    }
    return stopwatch.read();
}

// Lines the handler wrote, to be sure none was lost on the way.
qint64 linesIn(const QDir &directory)
{
    qint64 lines = 0;
    for (const QString &name : directory.entryList({ QStringLiteral("App*.log") }, QDir::Files)) {
        QFile file(directory.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            lines += file.readAll().count('\n');
    }
    return lines;
}

double rate(qint64 nanoseconds)
{
    return lineCount * 1e9 / double(nanoseconds);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);

    // The best of several rounds, taken in turns, so that a busy moment of the machine
    // weighs on neither side alone.
    Timing bestHandler { std::numeric_limits<qint64>::max(), std::numeric_limits<double>::max() };
    Timing bestPlain = bestHandler;
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir handlerDirectory;
        QTemporaryDir plainDirectory;
        if (!handlerDirectory.isValid() || !plainDirectory.isValid()) {
            std::fprintf(stderr, "cannot create a temporary directory\n");
            return 1;
        }
        const Timing handler = handlerRun(QDir(handlerDirectory.path()));
        const Timing plain = plainRun(QDir(plainDirectory.path()));
        const qint64 written = linesIn(QDir(handlerDirectory.path()));
        if (plain.wallNs < 0 || written != lineCount) {
            std::fprintf(stderr, "lines lost: handler wrote %lld of %d, plain loop %s\n",
                static_cast<long long>(written), lineCount, plain.wallNs < 0 ? "failed" : "ok");
            return 1;
        }
        bestHandler
            = { std::min(bestHandler.wallNs, handler.wallNs), std::min(bestHandler.cpuNs, handler.cpuNs) };
        bestPlain = { std::min(bestPlain.wallNs, plain.wallNs), std::min(bestPlain.cpuNs, plain.cpuNs) };
    }

    const double handlerRate = rate(bestHandler.wallNs);
    const double plainRate = rate(bestPlain.wallNs);
    std::printf("log handler, 2 threads:  %d lines in %7.1f ms = %8.0f lines/s, processor %5.2f us a line\n",
        lineCount, bestHandler.wallNs / 1e6, handlerRate, bestHandler.cpuNs / 1e3 / lineCount);
    std::printf("plain open/append/close: %d lines in %7.1f ms = %8.0f lines/s, processor %5.2f us a line\n",
        lineCount, bestPlain.wallNs / 1e6, plainRate, bestPlain.cpuNs / 1e3 / lineCount);
    std::printf("ratio handler/plain: %.2f (goal: at least 0.80)\n", handlerRate / plainRate);
    return 0;
}
