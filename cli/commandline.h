#pragma once

#include "runaction.h"

#include <QString>
#include <QStringList>

#include <optional>

// What one run of korvane-cli is asked to do.
struct StationOptions
{
    RunAction_T level = RUN_ACTION_BASIC;
    bool statusOnly = false;
    QString dataFile;
    QString keyFile;
    quint8 keyIndex = 0;
    QString configPath; // empty: config.json beside the program
    QString pluginPath; // empty: "DLL" from the configuration
    std::optional<int> waitSeconds;
    bool loop = false;
    bool json = false;

    // Only waiting for boards needs the window system's device notifications.
    bool waitsForBoards() const { return waitSeconds.has_value() || loop; }
};

// The command line read: what to do, or why it is wrong.
struct CommandLine
{
    enum class Request { Run, Help, Version };
    Request request = Request::Run;
    StationOptions options; // for Run
    QString usageError; // empty when the command line is right
};

// Reads the arguments, the program's name first. Needs no application object.
CommandLine parseCommandLine(const QStringList &arguments);
// --help's text; needs the application object for the program's name.
QString helpText();
