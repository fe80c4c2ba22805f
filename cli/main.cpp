// korvane-cli: Korvane's proof actions for automated stations, without a window.

#include "commandline.h"
#include "exitstatus.h"
#include "station.h"
#include "stopsignal.h"

#include <QGuiApplication>

#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

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
    const CommandLine commandLine = parseCommandLine(commandLineArguments(argc, argv));
    const StationOptions &options = commandLine.options;
    // Qt reads options such as -plugin from its arguments: it gets the program's name only.
    int applicationArgc = 1;
    std::unique_ptr<QCoreApplication> application;
    if (commandLine.usageError.isEmpty() && options.waitsForBoards()) {
#ifndef Q_OS_WIN
        // No window is ever shown: a station without a display needs none.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
        application = std::make_unique<QGuiApplication>(applicationArgc, argv);
    } else {
        // A single action starts faster without the window system.
        application = std::make_unique<QCoreApplication>(applicationArgc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("korvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));
    if (!commandLine.usageError.isEmpty())
        return usageError(commandLine.usageError);
    switch (commandLine.request) {
    case CommandLine::Request::Help:
        std::printf("%s", qPrintable(helpText()));
        return ExitStatus::Success;
    case CommandLine::Request::Version:
        std::printf("korvane-cli %s\n", KORVANE_VERSION);
        return ExitStatus::Success;
    case CommandLine::Request::Run:
        break;
    }

    const StationOutput output(options.json);
    Station station(options, output);
    if (const int status = station.start(); status != ExitStatus::Success)
        return status;
    handleStopRequests([&station] { station.requestStop(); });
    return station.run();
}
