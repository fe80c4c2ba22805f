#include "stationoutput.h"

#include "tracerecord.h"

#include <cstdio>

namespace {

void printLine(std::FILE *stream, const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QByteArray jsonBool(bool value)
{
    return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

} // namespace

void StationOutput::progress(const QString &text, bool error) const
{
    if (json)
        printLine(stdout,
            "{\"event\":\"progress\",\"text\":" + Trace::jsonString(text) + ",\"error\":" + jsonBool(error) + '}');
    else
        printLine(stdout, (error ? QByteArrayLiteral("FAIL ") : QByteArray()) + text.toUtf8());
}

void StationOutput::result(const QString &level, qint32 exitCode, qint64 durationMs) const
{
    if (json)
        printLine(stdout,
            "{\"event\":\"result\",\"level\":" + Trace::jsonString(level) + ",\"exit_code\":"
                + QByteArray::number(exitCode) + ",\"duration_ms\":" + QByteArray::number(durationMs) + '}');
    else
        printLine(stdout,
            QStringLiteral("RESULT %1 %2 exit_code=%3 duration_ms=%4")
                .arg(level, exitCode == 0 ? QStringLiteral("ok") : QStringLiteral("failed"))
                .arg(exitCode)
                .arg(durationMs)
                .toUtf8());
}

void StationOutput::status(const QString &status, int count) const
{
    // A failed scan is told apart from no board, which the status text cannot do.
    const bool scanFailed = count < 0;
    if (json)
        printLine(stdout,
            "{\"event\":\"status\",\"status\":" + Trace::jsonString(status)
                + ",\"count\":" + QByteArray::number(count) + (scanFailed ? ",\"scan_failed\":true}" : "}"));
    else
        printLine(stdout,
            QStringLiteral("STATUS count=%1 %2")
                .arg(count)
                .arg(scanFailed ? QStringLiteral("scan failed") : status)
                .trimmed()
                .toUtf8());
}

void StationOutput::lineState(const LineState &state) const
{
    if (json)
        printLine(stdout,
            QByteArray("{\"event\":\"line\",\"online\":") + (state.online ? "true" : "false")
                + ",\"waiting\":" + QByteArray::number(state.waiting) + '}');
    else if (state.online)
        printLine(stdout, QByteArrayLiteral("LINE online"));
    else
        printLine(stdout, QStringLiteral("LINE offline, %1 records waiting").arg(state.waiting).toUtf8());
}

void StationOutput::waitingForBoard() const
{
    printLine(stdout, json ? QByteArrayLiteral("{\"event\":\"waiting\"}") : QByteArrayLiteral("WAITING for a board"));
}

void StationOutput::units(int passed, int failed, bool final) const
{
    if (json)
        printLine(stdout,
            QByteArray("{\"event\":") + (final ? "\"totals\"" : "\"units\"") + ",\"passed\":"
                + QByteArray::number(passed) + ",\"failed\":" + QByteArray::number(failed) + '}');
    else
        printLine(stdout,
            QStringLiteral("%1 passed=%2 failed=%3")
                .arg(final ? QStringLiteral("TOTAL") : QStringLiteral("UNITS"))
                .arg(passed)
                .arg(failed)
                .toUtf8());
}

void StationOutput::error(const QString &text)
{
    printLine(stderr, text.toUtf8());
}
