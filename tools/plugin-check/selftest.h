#pragma once

#include "pluginentries.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The outcome of one check on one input.
struct CheckResult
{
    enum class Outcome { Pass, Fail, Skip };

    Outcome outcome = Outcome::Pass;
    QString name; // "basic-guards"
    QString subject; // the input, "length=5"; empty for a whole level
    QString reason; // why it failed or was skipped; empty for a pass
};

using CheckReporter = std::function<void(const CheckResult &)>;

// Calls the accepted plug-in the way the Basic and Middle actions do, for each level
// that proofLevel announces, and reports every check on every input in order. When
// aesKey is given, every Basic run adds it as "AESKEY", as when the operator chose a
// key file.
void runSelfTest(const PluginEntryTable &plugin, qint32 proofLevel, const std::optional<QByteArray> &aesKey,
    const CheckReporter &report);

// What each check looks at, for --help.
QString selfTestHelp();
