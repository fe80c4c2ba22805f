#include "tracecommands.h"

#include "tracerecord.h"
#include "traceverifier.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <array>
#include <cstdio>
#include <optional>

namespace TraceCommands {

namespace {

// Record lines go out byte for byte as stored, so all output is written as bytes.
void write(std::FILE *stream, QByteArrayView bytes)
{
    std::fwrite(bytes.data(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
}

void print(const QString &text)
{
    write(stdout, text.toUtf8());
}

std::optional<QByteArray> readFile(const QString &path)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool isDirectory(const QString &directory)
{
    if (QFileInfo(directory).isDir())
        return true;
    printError(QStringLiteral("%1: no such directory").arg(directory));
    return false;
}

// The lines of every trace file of a directory, oldest file first; a file that cannot
// be read is reported and passed over.
template <typename Visit>
void forEachLine(const QString &directory, Visit visit)
{
    for (const QString &path : Trace::filesIn(directory)) {
        const std::optional<QByteArray> content = readFile(path);
        if (!content) {
            printError(QStringLiteral("%1: cannot be read").arg(path));
            continue;
        }
        for (const QByteArrayView line : Trace::lines(*content))
            visit(path, line);
    }
}

} // namespace

void printError(const QString &text)
{
    write(stderr, text.toUtf8());
}

int verify(const QStringList &files)
{
    for (const QString &path : files) {
        const std::optional<QByteArray> content = readFile(path);
        if (!content) {
            printError(QStringLiteral("%1: cannot be read").arg(path));
            return ExitFailed;
        }
        const TraceVerification verification = verifyTrace(*content);
        for (const qsizetype line : verification.cutOffLines)
            printError(QStringLiteral("%1:%2: cut-off line passed over").arg(path).arg(line));
        if (verification.badLine > 0) {
            printError(
                QStringLiteral("%1:%2: %3").arg(path).arg(verification.badLine).arg(verification.problem));
            return ExitFailed;
        }
        print(QStringLiteral("%1: %2 records verified").arg(path).arg(verification.records));
    }
    return ExitOk;
}

int find(const QString &cpuId, const QString &directory)
{
    if (!isDirectory(directory))
        return ExitUsage;
    // Stored ids are lower-case hex: a line without the id's text is not parsed at all.
    const QByteArray text = cpuId.toLower().toUtf8();
    bool found = false;
    forEachLine(directory, [&](const QString &, QByteArrayView line) {
        if (!line.contains(text))
            return;
        const ParsedTraceLine parsed = Trace::parseLine(line);
        if (parsed.record && parsed.record->cpuId
            && parsed.record->cpuId->compare(cpuId, Qt::CaseInsensitive) == 0) {
            write(stdout, line);
            found = true;
        }
    });
    return found ? ExitOk : ExitFailed;
}

int summary(const QString &directory)
{
    if (!isDirectory(directory))
        return ExitUsage;
    static const QLatin1String levels[]
        = { QLatin1String("basic"), QLatin1String("middle"), QLatin1String("high") };
    struct Counts
    {
        qint64 passed = 0;
        qint64 failed = 0;
    };
    QMap<QDate, std::array<Counts, std::size(levels)>> days;
    forEachLine(directory, [&](const QString &path, QByteArrayView line) {
        const ParsedTraceLine parsed = Trace::parseLine(line);
        if (!parsed.record)
            return;
        const QDate day = Trace::dateOfFileName(QFileInfo(path).fileName());
        for (size_t level = 0; level < std::size(levels); ++level) {
            if (parsed.record->level == levels[level])
                ++(parsed.record->exitCode == 0 ? days[day][level].passed : days[day][level].failed);
        }
    });
    print(QStringLiteral("day\tlevel\tpassed\tfailed"));
    for (auto day = days.cbegin(); day != days.cend(); ++day) {
        for (size_t level = 0; level < std::size(levels); ++level) {
            const Counts &counts = day.value()[level];
            if (counts.passed + counts.failed > 0)
                print(QStringLiteral("%1\t%2\t%3\t%4")
                          .arg(day.key().toString(Qt::ISODate), levels[level])
                          .arg(counts.passed)
                          .arg(counts.failed));
        }
    }
    return ExitOk;
}

} // namespace TraceCommands
