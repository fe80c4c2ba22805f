#include "tracecommands.h"

#include "consoleoutput.h"

#include "levels.h"
#include "reportfigures.h"
#include "reportpage.h"
#include "traceclaims.h"
#include "tracejournal.h"
#include "tracerecord.h"
#include "traceverifier.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSysInfo>

#include <array>
#include <cstdio>
#include <optional>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace TraceCommands {

namespace {

using ConsoleOutput::print;
using ConsoleOutput::printError;
using ConsoleOutput::writeLine;

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

// What a trace file's directory says of the claims of its day: those in doubt, and those
// a person released.
void printClaimsOfDay(const QString &path)
{
    const QString directory = QFileInfo(path).absolutePath();
    const QDate day = Trace::dateOfFileName(QFileInfo(path).fileName());
    for (const TraceClaim &claim : TraceClaims::all(directory)) {
        if (Trace::localDateOf(claim.since) == day)
            print(QStringLiteral("%1: %2 in doubt since %3 on %4").arg(path, claim.cpuId, claim.since, claim.station));
    }
    for (const TraceRelease &release : TraceClaims::releases(directory)) {
        if (Trace::localDateOf(release.claim.since) == day)
            print(QStringLiteral("%1: %2 in doubt since %3 on %4, released at %5 by %6: %7")
                      .arg(path, release.claim.cpuId, release.claim.since, release.claim.station, release.released,
                          release.by, release.reason));
    }
}

} // namespace

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
        printClaimsOfDay(path);
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
            writeLine(stdout, line);
            found = true;
        }
    });
    // Then the claim in doubt and the releases, as they are kept.
    const QString id = cpuId.toLower();
    if (const std::optional<TraceClaim> claim = TraceClaims::read(directory, id)) {
        writeLine(stdout, TraceClaims::formatLine(*claim));
        found = true;
    }
    for (const TraceRelease &release : TraceClaims::releases(directory)) {
        if (release.claim.cpuId == id) {
            writeLine(stdout, TraceClaims::formatLine(release));
            found = true;
        }
    }
    return found ? ExitOk : ExitFailed;
}

int summary(const QString &directory)
{
    if (!isDirectory(directory))
        return ExitUsage;
    struct Counts
    {
        qint64 passed = 0;
        qint64 failed = 0;
    };
    // Per day, the counts of each level in the order of their numbers.
    QMap<QDate, std::array<Counts, Levels::high - Levels::basic + 1>> days;
    forEachLine(directory, [&](const QString &path, QByteArrayView line) {
        const ParsedTraceLine parsed = Trace::parseLine(line);
        if (!parsed.record)
            return;
        const QDate day = Trace::dateOfFileName(QFileInfo(path).fileName());
        Counts &counts = days[day][*Levels::parse(parsed.record->level) - Levels::basic];
        ++(parsed.record->exitCode == 0 ? counts.passed : counts.failed);
    });
    print(QStringLiteral("day\tlevel\tpassed\tfailed"));
    for (auto day = days.cbegin(); day != days.cend(); ++day) {
        for (int level = Levels::basic; level <= Levels::high; ++level) {
            const Counts &counts = day.value()[level - Levels::basic];
            if (counts.passed + counts.failed > 0)
                print(QStringLiteral("%1\t%2\t%3\t%4")
                          .arg(day.key().toString(Qt::ISODate), Levels::name(level))
                          .arg(counts.passed)
                          .arg(counts.failed));
        }
    }
    return ExitOk;
}

int release(const QString &cpuId, const QString &reason, const QString &directory)
{
    if (!isDirectory(directory))
        return ExitUsage;
    const QString id = cpuId.toLower();
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
#ifdef Q_OS_UNIX
    // A service or su -c may leave both unset: the account itself still answers for it.
    if (const passwd *account = ::getpwuid(::geteuid()); user.isEmpty() && account)
        user = QString::fromLocal8Bit(account->pw_name);
#endif
    const QString by = user + QLatin1Char('@') + QSysInfo::machineHostName();
    TraceJournal journal(directory);
    switch (journal.release(id, by, reason)) {
    case TraceJournal::Release::Released:
        print(QStringLiteral("%1: released").arg(id));
        return ExitOk;
    case TraceJournal::Release::NoClaim:
        printError(QStringLiteral("%1: no claim in doubt").arg(id));
        return ExitFailed;
    case TraceJournal::Release::OwnerRunning: {
        const TraceClaim claim = TraceClaims::read(directory, id).value_or(TraceClaim());
        printError(QStringLiteral("%1: claimed by a program that may still be running (process %2 on %3)")
                       .arg(id)
                       .arg(claim.pid)
                       .arg(claim.host));
        return ExitFailed;
    }
    case TraceJournal::Release::Failed:
        break;
    }
    printError(QStringLiteral("%1: the release could not be kept in %2").arg(id, directory));
    return ExitFailed;
}

int report(const QString &directory, const Report::Period &period, const QString &htmlPath)
{
    if (!isDirectory(directory))
        return ExitUsage;
    Report::Figures figures;
    QString reason;
    if (!Report::figuresOfTraceFolder(directory, period, &figures, &reason)
        || !ReportPage::write(htmlPath, ReportPage::html(figures, QDateTime::currentDateTimeUtc()), &reason)) {
        printError(QStringLiteral("korvane-trace: %1").arg(reason));
        return ExitFailed;
    }
    print(ReportPage::writtenLine(htmlPath, figures));
    return ExitOk;
}

} // namespace TraceCommands
