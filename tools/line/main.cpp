// korvane-line: sets up the line database, shows what it holds of the stations' records and
// claims, ends claims in doubt, and uploads trace folders.

#include "consoleoutput.h"
#include "linecommands.h"
#include "linedatabase.h"

#include "reportcommandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace LineCommands;

namespace {

const char commandsHelp[] = R"(
Commands:
  init [--roles]    Makes the schema "korvane" when it is missing; a schema already
                    there is left as it is, a newer one refused. With --roles also
                    the roles korvane_station and korvane_supervisor (no login)
                    when missing, and their rights. Each station then logs in as
                    its own user, member of korvane_station:
                      CREATE ROLE station3 LOGIN PASSWORD '...' IN ROLE korvane_station
  status [--json]   Per station its records, the time of its last record and of
                    its last upload; the claims in doubt (claimed, never settled),
                    the broken chains, the CPU ids written more than once, and the
                    claims released, with who, when and why.
                    Exit status 4 when there is a claim in doubt, a broken chain or
                    a CPU id written more than once.
  release CPUID --reason TEXT
                    Ends the claim in doubt of a CPU id once a person has checked
                    its board (supervisors only), keeping who, when and why.
  find CPUID        Every record of a CPU id as stored, oldest first, then each of
                    its claims as a JSON line ("claim" first), releases with who,
                    when and why. Exit status 1 when there is none.
  push DIR...       Uploads the records of the trace files of each folder, as the
                    stations do; what the server has is left as it is. Exit status
                    1 when a record is broken or not a record.
  report --html FILE [--from DAY] [--to DAY] [--station NAME]... [--lang LANG]
                    Writes the line report, one HTML file for any browser: units,
                    first-pass yield and failures per station and day, failures by
                    exit code, throughput and cycle time, silent stations, claims
                    in doubt, broken chains and CPU ids written twice. The server
                    adds the records up. Days (YYYY-MM-DD) are the stations' local
                    days, both included; without them, every record. LANG: zh_CN
                    or en; by default the system's language, as the window's.

Without --db the connection comes from libpq's environment (PGHOST, PGSERVICE,
PGPASSFILE, ...). A password belongs in the password file, not in the connection
string.
Exit status: 0 done; 1 failed; 2 no connection to the line database; 3 a wrong
command line; 4 status found problems.
)";

int usageError(const QCommandLineParser &parser, const QString &reason)
{
    ConsoleOutput::printError(QStringLiteral("korvane-line: %1\n%2\nSee korvane-line --help.")
                   .arg(reason, parser.helpText().section(QLatin1Char('\n'), 0, 0)));
    return ExitUsage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvane-line"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sets up and reads Korvane's line database."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption dbOption(QStringLiteral("db"),
        QStringLiteral("The line database's libpq connection string."), QStringLiteral("CONNINFO"));
    const QCommandLineOption rolesOption(QStringLiteral("roles"), QStringLiteral("init: also the roles."));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"), QStringLiteral("status: as one JSON object."));
    const QCommandLineOption reasonOption(
        QStringLiteral("reason"), QStringLiteral("release: why the claim may end."), QStringLiteral("TEXT"));
    const QCommandLineOption stationOption(QStringLiteral("station"),
        QStringLiteral("report: only this station (again for more)."), QStringLiteral("NAME"));
    parser.addOptions({ dbOption, rolesOption, jsonOption, reasonOption, stationOption });
    ReportCommandLine reportOptions;
    reportOptions.addTo(parser);
    parser.addPositionalArgument(QStringLiteral("command"),
        QStringLiteral("init, status, release, find, push or report (see below)."), QStringLiteral("<command>"));
    parser.addPositionalArgument(QStringLiteral("arguments"), QStringLiteral("The command's arguments."),
        QStringLiteral("[<arguments>...]"));
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser, parser.errorText());
    // Printed here rather than by the parser, which may show a message box on Windows.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText() + QString::fromUtf8(commandsHelp)), stdout);
        return ExitOk;
    }
    if (parser.isSet(versionOption)) {
        std::fputs(
            qPrintable(QStringLiteral("korvane-line %1\n").arg(QCoreApplication::applicationVersion())),
            stdout);
        return ExitOk;
    }

    const QStringList arguments = parser.positionalArguments();
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    const QStringList commands { QStringLiteral("init"), QStringLiteral("status"), QStringLiteral("release"),
        QStringLiteral("find"), QStringLiteral("push"), QStringLiteral("report") };
    if (command.isEmpty())
        return usageError(parser, QStringLiteral("no command given"));
    if (!commands.contains(command))
        return usageError(parser, QStringLiteral("unknown command \"%1\"").arg(command));
    if (parser.isSet(rolesOption) && command != QLatin1String("init"))
        return usageError(parser, QStringLiteral("only init takes --roles"));
    if (parser.isSet(jsonOption) && command != QLatin1String("status"))
        return usageError(parser, QStringLiteral("only status takes --json"));
    if (parser.isSet(reasonOption) && command != QLatin1String("release"))
        return usageError(parser, QStringLiteral("only release takes --reason"));
    if (command != QLatin1String("report")) {
        if (const std::optional<QString> option
            = parser.isSet(stationOption) ? QStringLiteral("--station") : reportOptions.setOption(parser))
            return usageError(parser, QStringLiteral("only report takes %1").arg(*option));
    }
    // A release without a reason would leave nobody able to tell why it was made.
    const QString reason = parser.value(reasonOption).trimmed();
    const bool fits
        = ((command == QLatin1String("init") || command == QLatin1String("status")) && rest.isEmpty())
        || (command == QLatin1String("release") && rest.size() == 1 && !reason.isEmpty())
        || (command == QLatin1String("find") && rest.size() == 1)
        || (command == QLatin1String("push") && !rest.isEmpty())
        || (command == QLatin1String("report") && rest.isEmpty() && !reportOptions.htmlPath(parser).isEmpty());
    if (!fits)
        return usageError(parser, QStringLiteral("wrong arguments for %1").arg(command));

    QString problem;
    std::optional<Report::Period> period = reportOptions.period(parser, &problem);
    if (!period)
        return usageError(parser, problem);
    period->stations = parser.values(stationOption);

    LineDatabase database(parser.value(dbOption));
    if (command == QLatin1String("report")) {
        reportOptions.installLanguage(parser);
        return report(database, *period, reportOptions.htmlPath(parser));
    }
    if (command == QLatin1String("init"))
        return init(database, parser.isSet(rolesOption));
    if (command == QLatin1String("status"))
        return status(database, parser.isSet(jsonOption));
    if (command == QLatin1String("release"))
        return release(database, rest.constFirst(), reason);
    if (command == QLatin1String("find"))
        return find(database, rest.constFirst());
    return push(database, rest);
}
