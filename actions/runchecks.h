#pragma once

#include "runaction.h"

#include <QString>

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

// The checks of a level's Run button, in their order: the text of the first that fails,
// or nullptr when the action may start. The texts are the untranslated sources of the
// window's boxes (translation context "MainWindow"), so every program that starts
// actions refuses with the same words.
const char *runRefusal(const RunRequest &request);

// Whether a refusal of runRefusal() is the device check's: another board may lift it.
bool isDeviceRefusal(const char *refusal);

// The board named in the status text: "Maskrom" or "Loader"; empty for none.
QString boardOf(const QString &deviceStatus);
