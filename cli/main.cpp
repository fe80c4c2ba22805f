// korvane-cli: Korvane's proof actions for automated stations, without a window.

#include "exitstatus.h"
#include "station.h"
#include "stopsignal.h"

#include <QCommandLineParser>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

const char description[] = R"(Korvane's proof actions without a window, for automated stations.

Commands:
  basic [--key FILE]             Basic: the CPU id, encrypted by the plug-in, written to the board
  middle --data FILE             Middle: the data file, encrypted, written as proof data
  high --key FILE --index N      High: the OEM key file written under key index N (0-3)
  status                         the status as the window's label shows it, and the board count

It reads config.json beside the program ("DLL", "LOG", "TRACE", "STATION",
"DUPLICATE_CPUID") and never writes it, makes the checks of the window's Run button
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
count -1 and "scan_failed":true).

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
  10+|code| the action failed with that exit code: -1 gives 11, ..., -11 gives 21, -13 gives 23)";

constexpr int maxWaitSeconds = 24 * 60 * 60;

// The command line as given. QGuiApplication takes out what it reads as its own options,
// "--plugin PATH" among them, so it never sees more than the program's name.
QStringList commandLineArguments(int argc, char *argv[])
{
    QStringList arguments;
#ifdef Q_OS_WIN
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    int count = 0;
    if (wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments.append(QString::fromWCharArray(wide[i]));
        LocalFree(wide);
    }
#else
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
#endif
    return arguments;
}

int usageError(const QString &problem)
{
    std::fprintf(stderr, "korvane-cli: %s\nUsage: korvane-cli basic|middle|high|status [options]; see --help\n",
        qPrintable(problem));
    return ExitStatus::Usage;
}

} // namespace

int main(int argc, char *argv[])
{
    stopAtOnceUntilHandled();
    const QStringList arguments = commandLineArguments(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("basic, middle, high or status"));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("The key file."), QStringLiteral("FILE"));
    const QCommandLineOption dataOption(QStringLiteral("data"), QStringLiteral("The data file."), QStringLiteral("FILE"));
    const QCommandLineOption indexOption(QStringLiteral("index"), QStringLiteral("The key index, 0-3."), QStringLiteral("N"));
    const QCommandLineOption configOption(
        QStringLiteral("config"), QStringLiteral("Another configuration file."), QStringLiteral("FILE"));
    const QCommandLineOption pluginOption(
        QStringLiteral("plugin"), QStringLiteral("The plug-in for this run, instead of \"DLL\"."), QStringLiteral("PATH"));
    const QCommandLineOption waitOption(QStringLiteral("wait"),
        QStringLiteral("Wait up to SECONDS (0-86400) for a board the level can act on."), QStringLiteral("SECONDS"));
    const QCommandLineOption loopOption(QStringLiteral("loop"), QStringLiteral("Station mode: one unit after another."));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("One JSON object per output line."));
    parser.addOptions({ keyOption, dataOption, indexOption, configOption, pluginOption, waitOption, loopOption, jsonOption });

    const bool parsed = parser.parse(arguments);
    // Only waiting for boards needs the window system's device notifications: a single
    // action starts faster without it.
    int applicationArgc = 1;
    std::unique_ptr<QCoreApplication> application;
    if (parsed && (parser.isSet(waitOption) || parser.isSet(loopOption))) {
#ifndef Q_OS_WIN
        // No window is ever shown: a station without a display needs none.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
        // Qt reads options such as -plugin from its arguments: it gets the program's name only.
        application = std::make_unique<QGuiApplication>(applicationArgc, argv);
    } else {
        application = std::make_unique<QCoreApplication>(applicationArgc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("korvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));
    if (!parsed)
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::printf("%s", qPrintable(parser.helpText()));
        return ExitStatus::Success;
    }
    if (parser.isSet(versionOption)) {
        std::printf("korvane-cli %s\n", KORVANE_VERSION);
        return ExitStatus::Success;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(QStringLiteral("one command is needed"));
    const QString command = positional.first();
    StationOptions options;
    if (command == QLatin1String("basic")) {
        options.level = RUN_ACTION_BASIC;
    } else if (command == QLatin1String("middle")) {
        options.level = RUN_ACTION_MIDDLE;
    } else if (command == QLatin1String("high")) {
        options.level = RUN_ACTION_HIGH;
    } else if (command == QLatin1String("status")) {
        options.statusOnly = true;
    } else {
        return usageError(QStringLiteral("unknown command: %1").arg(command));
    }
    // Each level takes its own files only.
    if (parser.isSet(keyOption) && options.level == RUN_ACTION_MIDDLE)
        return usageError(QStringLiteral("middle takes no --key"));
    if (parser.isSet(dataOption) && options.level != RUN_ACTION_MIDDLE)
        return usageError(QStringLiteral("only middle takes --data"));
    if (options.level == RUN_ACTION_HIGH && !options.statusOnly) {
        bool isNumber = false;
        const int index = parser.value(indexOption).toInt(&isNumber);
        if (!isNumber || index < 0 || index > 3)
            return usageError(QStringLiteral("high needs --index 0, 1, 2 or 3"));
        options.keyIndex = quint8(index);
    } else if (parser.isSet(indexOption)) {
        return usageError(QStringLiteral("only high takes --index"));
    }
    if (options.statusOnly
        && (parser.isSet(keyOption) || parser.isSet(dataOption) || parser.isSet(waitOption) || parser.isSet(loopOption)))
        return usageError(QStringLiteral("status takes no files, --wait or --loop"));
    if (parser.isSet(waitOption)) {
        bool isNumber = false;
        const int seconds = parser.value(waitOption).toInt(&isNumber);
        // A day at most: more is a mistake, and the milliseconds stay within an int.
        if (!isNumber || seconds < 0 || seconds > maxWaitSeconds)
            return usageError(QStringLiteral("--wait needs 0 to %1 seconds").arg(maxWaitSeconds));
        options.waitSeconds = seconds;
    }
    if (parser.isSet(waitOption) && parser.isSet(loopOption))
        return usageError(QStringLiteral("--loop waits by itself; --wait is for one action"));
    options.keyFile = parser.value(keyOption);
    options.dataFile = parser.value(dataOption);
    options.configPath = parser.value(configOption);
    options.pluginPath = parser.value(pluginOption);
    options.loop = parser.isSet(loopOption);
    options.json = parser.isSet(jsonOption);

    const StationOutput output(options.json);
    Station station(options, output);
    if (const std::optional<int> refused = station.start())
        return *refused;
    handleStopRequests([&station] { station.requestStop(); });
    return station.run();
}
