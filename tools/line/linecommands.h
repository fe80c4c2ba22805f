#pragma once

#include <QString>
#include <QStringList>

class LineDatabase;
namespace Report {
struct Period;
}

// The commands of korvane-line. Each prints its results to stdout, its complaints to
// stderr, and returns the program's exit status.
namespace LineCommands {

enum ExitStatus {
    ExitOk = 0,
    ExitFailed = 1, // the server refused, or nothing found, or a record not uploaded
    ExitNoConnection = 2, // no connection to the line database
    ExitUsage = 3, // a wrong command line
    ExitFindings = 4, // status: claims in doubt, broken chains or CPU ids written twice
};

int init(LineDatabase &database, bool roles);
int status(LineDatabase &database, bool json);
int release(LineDatabase &database, const QString &cpuId, const QString &reason);
int find(LineDatabase &database, const QString &cpuId);
int push(LineDatabase &database, const QStringList &directories);
int report(LineDatabase &database, const Report::Period &period, const QString &htmlPath);


} // namespace LineCommands
