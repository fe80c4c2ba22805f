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
#include <limits>
#include <memory>

namespace {

constexpr int lineCount = 20000;
constexpr int rounds = 7;
const QString message = QStringLiteral("write encoded data... board b1 slot 3");

qint64 handlerRun(const QDir &directory)
{
    setLogFileDirectory(directory.path());
    const QtMessageHandler previous = qInstallMessageHandler(logMessageHandler);
    const auto writer = [] {
        for (int i = 0; i < lineCount / 2; ++i)
            qDebug().noquote() << message;
    };
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QThread> first(QThread::create(writer));
    std::unique_ptr<QThread> second(QThread::create(writer));
    first->start();
    second->start();
    first->wait();
    second->wait();
    const qint64 elapsed = timer.nsecsElapsed();
    qInstallMessageHandler(previous);
    return elapsed;
}

qint64 plainRun(const QDir &directory)
{
    // The same bytes the handler writes for one message.
    const QByteArray line = QByteArray("09:41:07 052 [Debug] ") + message.toUtf8() + '\n';
    const QString path = directory.filePath(QStringLiteral("plain.log"));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < lineCount; ++i) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size())
            return -1;
        file.close();
    }
    return timer.nsecsElapsed();
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
    qint64 bestHandler = std::numeric_limits<qint64>::max();
    qint64 bestPlain = std::numeric_limits<qint64>::max();
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir handlerDirectory;
        QTemporaryDir plainDirectory;
        if (!handlerDirectory.isValid() || !plainDirectory.isValid()) {
            std::fprintf(stderr, "cannot create a temporary directory\n");
            return 1;
        }
        const qint64 handler = handlerRun(QDir(handlerDirectory.path()));
        const qint64 plain = plainRun(QDir(plainDirectory.path()));
        const qint64 written = linesIn(QDir(handlerDirectory.path()));
        if (plain < 0 || written != lineCount) {
            std::fprintf(stderr, "lines lost: handler wrote %lld of %d, plain loop %s\n",
                static_cast<long long>(written), lineCount, plain < 0 ? "failed" : "ok");
            return 1;
        }
        bestHandler = std::min(bestHandler, handler);
        bestPlain = std::min(bestPlain, plain);
    }

    const double handlerRate = rate(bestHandler);
    const double plainRate = rate(bestPlain);
    std::printf("log handler, 2 threads:  %d lines in %7.1f ms = %8.0f lines/s\n", lineCount,
        bestHandler / 1e6, handlerRate);
    std::printf("plain open/append/close: %d lines in %7.1f ms = %8.0f lines/s\n", lineCount, bestPlain / 1e6,
        plainRate);
    std::printf("ratio handler/plain: %.2f (goal: at least 0.80)\n", handlerRate / plainRate);
    return 0;
}
