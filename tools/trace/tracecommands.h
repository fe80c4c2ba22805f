#pragma once

#include <QString>
#include <QStringList>

namespace Report {
struct Period;
}

// The commands of korvane-trace. Each prints its results to stdout, its complaints to
// stderr, and returns the program's exit status.
namespace TraceCommands {

enum ExitStatus {
    ExitOk = 0,
    ExitFailed = 1, // a bad line or a file that cannot be read; for find, nothing found
    ExitUsage = 2, // a wrong command line, or no such directory
};

int verify(const QStringList &files);
int find(const QString &cpuId, const QString &directory);
int summary(const QString &directory);
int release(const QString &cpuId, const QString &reason, const QString &directory);
int report(const QString &directory, const Report::Period &period, const QString &htmlPath);


} // namespace TraceCommands
