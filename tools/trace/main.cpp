// korvane-trace: checks the chain of the bench's trace files, and reads them: the records
// of one board, and the passed and failed actions of each day.

#include "consoleoutput.h"
#include "tracecommands.h"

#include "reportcommandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace TraceCommands;

namespace {

QString commandsHelp(const QString &defaultDirectory)
{
    return QStringLiteral(
        "\n"
        "Commands:\n"
        "  verify FILE...    Checks each trace file: every line a record, \"seq\" counting\n"
        "                    from 1 and each \"prev\" the SHA-256 of the record line before\n"
        "                    it. Prints \"FILE: N records verified\" per file; at the first\n"
        "                    bad line prints \"FILE:LINE: why\" to stderr and stops. A line\n"
        "                    cut off by a power loss (the start of a record, then nothing\n"
        "                    or zeros) is passed over with a note to stderr, but only at\n"
        "                    the end of the file or where the next record chains to the\n"
        "                    one before it; any other line that is not a record is bad.\n"
        "                    A file saved by an editor is bad: \"BOM added\", \"line ends\n"
        "                    changed to CRLF\". A file without a complete record is bad at\n"
        "                    line 1, an empty file too: \"no record\".\n"
        "                    Then the file's day's claims in doubt and releases, one line\n"
        "                    each, from the directory beside it.\n"
        "                    Exit status: 0 every file verified; 1 a bad line, a file\n"
        "                    without a record, or a file that cannot be read.\n"
        "  find CPUID [DIR]  Prints the records of one CPU id (any case) as they are\n"
        "                    stored, oldest first, then its claim in doubt and its\n"
        "                    releases, each a JSON line (\"claim\" or \"release\" first).\n"
        "                    Exit status: 0 found; 1 none found; 2 no such DIR.\n"
        "  summary [DIR]     Counts the records of each day and level, passed meaning\n"
        "                    exit_code 0: tab-separated lines under the header\n"
        "                    \"day level passed failed\".\n"
        "                    Exit status: 0; 2 no such DIR.\n"
        "  release CPUID --reason TEXT [DIR]\n"
        "                    Ends the claim in doubt of a CPU id once a person has\n"
        "                    checked its board, keeping who, when and why in\n"
        "                    DIR/releases.jsonl. A claim whose program still runs on this\n"
        "                    computer, or that was made on another, is not released.\n"
        "                    Exit status: 0 released; 1 no claim, or not released; 2 no\n"
        "                    such DIR.\n"
        "  report [DIR] --html FILE [--from DAY] [--to DAY] [--lang LANG]\n"
        "                    Writes the line report of this folder's records, one HTML\n"
        "                    file for any browser: units, first-pass yield and failures\n"
        "                    per day, failures by exit code, throughput and cycle time,\n"
        "                    claims in doubt, broken files and CPU ids written twice.\n"
        "                    Days (YYYY-MM-DD) are the trace files' days, both included.\n"
        "                    LANG: zh_CN or en; by default the system's language.\n"
        "                    Exit status: 0 written; 1 not written; 2 no such DIR.\n"
        "\n"
        "DIR is a trace directory, by default the one beside this program:\n"
        "  %1\n"
        "A wrong command line exits with status 2.\n")
        .arg(defaultDirectory);
}

int usageError(const QCommandLineParser &parser, const QString &reason)
{
    // The help's first line is the short usage.
    ConsoleOutput::printError(QStringLiteral("korvane-trace: %1\n%2\nSee korvane-trace --help.")
                   .arg(reason, parser.helpText().section(QLatin1Char('\n'), 0, 0)));
    return ExitUsage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvane-trace"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Checks and reads Korvane's trace files."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption reasonOption(QStringLiteral("reason"),
        QStringLiteral("release: why the claim may end."), QStringLiteral("TEXT"));
    parser.addOption(reasonOption);
    ReportCommandLine reportOptions;
    reportOptions.addTo(parser);
    parser.addPositionalArgument(QStringLiteral("command"),
        QStringLiteral("verify, find, summary, release or report (see below)."), QStringLiteral("<command>"));
    parser.addPositionalArgument(QStringLiteral("arguments"), QStringLiteral("The command's arguments."),
        QStringLiteral("[<arguments>...]"));
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser, parser.errorText());

    const QString defaultDirectory = QCoreApplication::applicationDirPath() + QStringLiteral("/trace");
    // Printed here rather than by the parser, which may show a message box on Windows.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText() + commandsHelp(defaultDirectory)), stdout);
        return ExitOk;
    }
    if (parser.isSet(versionOption)) {
        std::fputs(
            qPrintable(QStringLiteral("korvane-trace %1\n").arg(QCoreApplication::applicationVersion())),
            stdout);
        return ExitOk;
    }

    const QStringList arguments = parser.positionalArguments();
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (parser.isSet(reasonOption) && command != QLatin1String("release"))
        return usageError(parser, QStringLiteral("only release takes --reason"));
    if (command != QLatin1String("report")) {
        if (const std::optional<QString> option = reportOptions.setOption(parser))
            return usageError(parser, QStringLiteral("only report takes %1").arg(*option));
    }
    if (command == QLatin1String("report") && rest.size() <= 1 && !reportOptions.htmlPath(parser).isEmpty()) {
        QString problem;
        const std::optional<Report::Period> period = reportOptions.period(parser, &problem);
        if (!period)
            return usageError(parser, problem);
        reportOptions.installLanguage(parser);
        return report(rest.value(0, defaultDirectory), *period, reportOptions.htmlPath(parser));
    }
    if (command == QLatin1String("verify") && !rest.isEmpty())
        return verify(rest);
    if (command == QLatin1String("find") && (rest.size() == 1 || rest.size() == 2))
        return find(rest.constFirst(), rest.value(1, defaultDirectory));
    if (command == QLatin1String("summary") && rest.size() <= 1)
        return summary(rest.value(0, defaultDirectory));
    // A release without a reason would leave nobody able to tell why it was made.
    const QString reason = parser.value(reasonOption).trimmed();
    if (command == QLatin1String("release") && (rest.size() == 1 || rest.size() == 2) && !reason.isEmpty())
        return release(rest.constFirst(), reason, rest.value(1, defaultDirectory));

    if (command.isEmpty())
        return usageError(parser, QStringLiteral("no command given"));
    if (command != QLatin1String("verify") && command != QLatin1String("find")
        && command != QLatin1String("summary") && command != QLatin1String("release")
        && command != QLatin1String("report"))
        return usageError(parser, QStringLiteral("unknown command \"%1\"").arg(command));
    return usageError(parser, QStringLiteral("wrong arguments for %1").arg(command));
}
