#include "startuprun.h"

#include <QList>

#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

qint64 monotonicNanoseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

} // namespace

// Reads the probe's time stamp and collects the process's resource usage when it has ended.
std::optional<StartupRun> runStartup(const QByteArray &program)
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
    const qint64 ended = monotonicNanoseconds();

    const qsizetype at = text.indexOf("shown ");
    if (at < 0)
        return std::nullopt;
    const qint64 shown = text.mid(at + 6).trimmed().split('\n').first().toLongLong();
    return StartupRun { (shown - start) / 1e6, (ended - start) / 1e6, usage.ru_maxrss / 1024.0 };
}
