#pragma once

#include <QByteArray>

#include <optional>

// One start of a program linked with startupprobe.cpp, spawned with its output on a pipe:
// from the spawn to its first window exposed, and to its end, with its peak memory.
struct StartupRun
{
    double milliseconds = 0; // to the window shown
    double exitMilliseconds = 0; // to the process's end, after the probe ended its event loop
    double peakMiB = 0; // maximum resident set size
};

// Empty when the program could not be spawned, failed, or never showed a window.
std::optional<StartupRun> runStartup(const QByteArray &program);
