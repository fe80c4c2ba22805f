#include "commandline.h"

#include "levels.h"

#include <QCommandLineParser>

namespace {

const char description[] = R"(Korvane's proof actions without a window, for automated stations.

Commands:
  basic [--key FILE]             Basic: the CPU id, encrypted by the plug-in, written to the board
  middle --data FILE             Middle: the data file, encrypted, written as proof data
  high --key FILE --index N      High: the OEM key file written under key index N (0-3)
  status                         the status as the window's label shows it, and the board count

It reads config.json beside the program ("DLL", "LOG", "TRACE", "STATION",
"DUPLICATE_CPUID", "LINE_DB", "LINE_DB_OFFLINE") and never writes it, makes the checks of the window's Run button
in the same order, and writes the same log and trace records. Without config.json it
uses the defaults; a config.json or --config FILE that is not valid JSON, larger than
1 MiB or not a regular file is refused, as is a device library that fails to
initialise.

Output: each progress line as it happens ("FAIL " before a failure), then
"RESULT <level> ok|failed exit_code=<code> duration_ms=<ms>". With --json one JSON
object per line: {"event":"progress","text":...,"error":...}, then
{"event":"result","level":...,"exit_code":...,"duration_ms":...}.
status prints "STATUS count=<n> <label>" ({"event":"status","status":...,"count":...});
a failed scan of the device library gives "STATUS count=-1 scan failed" (with --json
count -1 and "scan_failed":true). With "LINE_DB" it then prints "LINE online" or
"LINE offline, <n> records waiting" ({"event":"line","online":...,"waiting":...}).
With a line database each record is uploaded before the program goes on or exits.

--loop (station mode): prints "WAITING for a board" and waits for one, runs the
action, prints "UNITS passed=<n> failed=<n>", waits until no board is attached, and
starts again.
Ctrl+C, SIGTERM or SIGHUP never cuts an action short: the program stops after it
(--loop: prints "TOTAL passed=<n> failed=<n>"). During start-up, before an action
can begin, they end it at once. An output whose reader has gone (| head) stops
nothing: the action and its trace record complete, and the exit status is the
action's. Basic in a loop needs "TRACE": true and "DUPLICATE_CPUID": "refuse".

Exit status:
  0         success (--loop: every unit passed)
  1         the program itself failed unexpectedly
  2         refused before the action started; the reason on standard error
  3         wrong usage
  5         --loop: some units failed
  10+|code| the action failed with that exit code: -1 gives 11, ..., -11 gives 21,
            -12 (line database unreachable) gives 22, -13 gives 23)";

// A day at most: more is a mistake, and the milliseconds stay within an int.
constexpr int maxWaitSeconds = 24 * 60 * 60;

// The options korvane-cli knows, added to a parser.
struct Options
{
    explicit Options(QCommandLineParser &parser)
        : help(parser.addHelpOption())
        , version(parser.addVersionOption())
    {
        parser.setApplicationDescription(QString::fromLatin1(description));
        parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("basic, middle, high or status"));
        parser.addOptions({ key, data, index, config, plugin, wait, loop, json });
    }

    const QCommandLineOption help;
    const QCommandLineOption version;
    const QCommandLineOption key { QStringLiteral("key"), QStringLiteral("The key file."), QStringLiteral("FILE") };
    const QCommandLineOption data { QStringLiteral("data"), QStringLiteral("The data file."), QStringLiteral("FILE") };
    const QCommandLineOption index { QStringLiteral("index"), QStringLiteral("The key index, 0-3."), QStringLiteral("N") };
    const QCommandLineOption config { QStringLiteral("config"), QStringLiteral("Another configuration file."),
        QStringLiteral("FILE") };
    const QCommandLineOption plugin { QStringLiteral("plugin"),
        QStringLiteral("The plug-in for this run, instead of \"DLL\"."), QStringLiteral("PATH") };
    const QCommandLineOption wait { QStringLiteral("wait"),
        QStringLiteral("Wait up to SECONDS (0-86400) for a board the level can act on."), QStringLiteral("SECONDS") };
    const QCommandLineOption loop { QStringLiteral("loop"), QStringLiteral("Station mode: one unit after another.") };
    const QCommandLineOption json { QStringLiteral("json"), QStringLiteral("One JSON object per output line.") };
};

CommandLine usageError(const QString &problem)
{
    CommandLine commandLine;
    commandLine.usageError = problem;
    return commandLine;
}

// The command: a level, or the status.
bool readCommand(const QCommandLineParser &parser, StationOptions &options, QString &problem)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        problem = QStringLiteral("one command is needed");
        return false;
    }
    const QString command = positional.first();
    if (command == QLatin1String("status")) {
        options.statusOnly = true;
        return true;
    }
    const std::optional<int> level = Levels::parse(command);
    if (!level) {
        problem = QStringLiteral("unknown command: %1").arg(command);
        return false;
    }
    options.level = RunAction_T(*level);
    return true;
}

// What each command takes and how the numbers read; the first problem found.
QString readArguments(const QCommandLineParser &parser, const Options &known, StationOptions &options)
{
    // Each level takes its own files only.
    if (parser.isSet(known.key) && options.level == RUN_ACTION_MIDDLE)
        return QStringLiteral("middle takes no --key");
    if (parser.isSet(known.data) && options.level != RUN_ACTION_MIDDLE)
        return QStringLiteral("only middle takes --data");
    if (options.level == RUN_ACTION_HIGH && !options.statusOnly) {
        bool isNumber = false;
        const int index = parser.value(known.index).toInt(&isNumber);
        if (!isNumber || index < 0 || index > 3)
            return QStringLiteral("high needs --index 0, 1, 2 or 3");
        options.keyIndex = quint8(index);
    } else if (parser.isSet(known.index)) {
        return QStringLiteral("only high takes --index");
    }
    if (options.statusOnly
        && (parser.isSet(known.key) || parser.isSet(known.data) || parser.isSet(known.wait) || parser.isSet(known.loop)))
        return QStringLiteral("status takes no files, --wait or --loop");
    if (parser.isSet(known.wait)) {
        bool isNumber = false;
        const int seconds = parser.value(known.wait).toInt(&isNumber);
        if (!isNumber || seconds < 0 || seconds > maxWaitSeconds)
            return QStringLiteral("--wait needs 0 to %1 seconds").arg(maxWaitSeconds);
        options.waitSeconds = seconds;
    }
    if (parser.isSet(known.wait) && parser.isSet(known.loop))
        return QStringLiteral("--loop waits by itself; --wait is for one action");
    return QString();
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options known(parser);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    CommandLine commandLine;
    if (parser.isSet(known.help)) {
        commandLine.request = CommandLine::Request::Help;
        return commandLine;
    }
    if (parser.isSet(known.version)) {
        commandLine.request = CommandLine::Request::Version;
        return commandLine;
    }
    StationOptions &options = commandLine.options;
    QString problem;
    if (!readCommand(parser, options, problem))
        return usageError(problem);
    problem = readArguments(parser, known, options);
    if (!problem.isEmpty())
        return usageError(problem);
    options.keyFile = parser.value(known.key);
    options.dataFile = parser.value(known.data);
    options.configPath = parser.value(known.config);
    options.pluginPath = parser.value(known.plugin);
    options.loop = parser.isSet(known.loop);
    options.json = parser.isSet(known.json);
    return commandLine;
}

QString helpText()
{
    QCommandLineParser parser;
    const Options known(parser);
    return parser.helpText();
}
