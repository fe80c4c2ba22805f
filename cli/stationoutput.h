#pragma once

#include "linestation.h"

#include <QString>

// What korvane-cli prints: plain lines for a person (a failure line starts with
// "FAIL "), or with --json one JSON object per line. Always English, flushed per line.
class StationOutput
{
public:
    explicit StationOutput(bool json)
        : json(json)
    {
    }

    void progress(const QString &text, bool error) const;
    void result(const QString &level, qint32 exitCode, qint64 durationMs) const;
    // count -1: the device library's scan failed.
    void status(const QString &status, int count) const;
    // With a line database: whether it answered, and the records still waiting.
    void lineState(const LineState &state) const;
    // --loop: waiting for the next board, which a fixture may attach from now on.
    void waitingForBoard() const;
    // --loop: the running count after each unit, and the totals at the end.
    void units(int passed, int failed, bool final) const;
    // Refusals and errors go to standard error, in both forms.
    static void error(const QString &text);

private:
    const bool json;
};
