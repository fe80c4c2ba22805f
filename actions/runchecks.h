#pragma once

#include "runaction.h"

#include <QString>

#include <optional>

struct PluginLoadResult;

// What a level needs before it may start, as the Run button sees it at the click.
struct RunRequest
{
    RunAction_T level = RUN_ACTION_BASIC;
    bool pluginLoaded = false;
    int announcedLevels = 0; // the plug-in's KORVANE_PROOF_* bits
    QString dataFile; // Middle
    QString keyFile; // Basic (may be empty), High
    QString deviceStatus; // the status text, as scanDeviceStatus() gives it
};

// Every reason an action is refused before it starts: the Run checks' and the plug-in
// loader's.
enum class Refusal {
    PluginNotLoaded,
    BasicNotAnnounced,
    MiddleNotAnnounced,
    HighNotAnnounced,
    KeyFileSize,
    NoPlainFile,
    PlainFileSize,
    NoKeyFile,
    NoDevice,
    LoaderOnly,
    PluginLoadFailed, // %1: the plug-in's path
    PluginInvalid, // %1: the plug-in's path
};

// The refusal's text: the untranslated source of the window's box (translation context
// "MainWindow"), so that every program that starts actions refuses with the same words.
const char *refusalText(Refusal refusal);

// Whether another board may lift the refusal: the device check's.
bool isDeviceRefusal(Refusal refusal);

// The checks of a level's Run button, in their order: the first that fails, if any.
std::optional<Refusal> runRefusal(const RunRequest &request);

// The loader's refusal of a plug-in, if it refused it.
std::optional<Refusal> pluginRefusal(const PluginLoadResult &result);

// The board named in the status text: "Maskrom" or "Loader"; empty for none.
QString boardOf(const QString &deviceStatus);
