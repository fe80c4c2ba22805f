#include "reportfigures.h"

#include "exitcodes.h"
#include "levels.h"
#include "traceclaims.h"
#include "traceverifier.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace Report {

int cycleBucketOf(qint64 durationMs)
{
    return int(std::upper_bound(cycleBucketBounds.cbegin(), cycleBucketBounds.cend(), durationMs)
        - cycleBucketBounds.cbegin());
}

qint64 discretePercentile(const std::vector<qint64> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    // The same arithmetic as the server's percentile_disc, so that both give one answer.
    const auto rank = qint64(std::ceil(p * double(sorted.size())));
    return sorted[size_t(std::clamp<qint64>(rank, 1, qint64(sorted.size())) - 1)];
}

namespace {

// Qt's ISO date would also take a time or an offset after the day.
QDate parseDay(const QString &text)
{
    static const QRegularExpression day(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d$"));
    return day.match(text).hasMatch() ? QDate::fromString(text, Qt::ISODate) : QDate();
}

} // namespace

std::optional<Period> periodOf(const QString &from, const QString &to, QString *problem)
{
    Period period;
    for (const auto &[text, day, option] : { std::tuple(from, &period.from, "--from"), std::tuple(to, &period.to, "--to") }) {
        if (text.isEmpty())
            continue;
        *day = parseDay(text);
        if (!day->isValid()) {
            *problem = QStringLiteral("%1 \"%2\" is not a day YYYY-MM-DD").arg(QLatin1String(option), text);
            return std::nullopt;
        }
    }
    if (period.from.isValid() && period.to.isValid() && period.to < period.from) {
        *problem = QStringLiteral("--to is before --from");
        return std::nullopt;
    }
    return period;
}

bool Period::containsDay(QDate day) const
{
    return (!from.isValid() || day >= from) && (!to.isValid() || day <= to);
}

bool Period::containsStation(const QString &station) const
{
    return stations.isEmpty() || stations.contains(station);
}

Tally::Tally(Period period)
    : period(std::move(period))
{
}

void Tally::add(QDate day, const TraceRecord &record)
{
    if (!period.containsStation(record.station))
        return;
    QString &last = lastRecords[record.station];
    last = std::max(last, record.time);
    if (!period.containsDay(day))
        return;

    const bool passed = record.exitCode == 0;
    StationDay &stationDay = days[{ record.station, day }];
    stationDay.station = record.station;
    stationDay.day = day;
    ++stationDay.attempts;
    ++attempts;
    if (passed) {
        ++passedAttempts;
    } else {
        ++stationDay.failures;
        ++failureCounts[record.exitCode];
    }
    if (record.exitCode == ExitCode::DuplicateCpuId)
        ++refusedDuplicates;
    if (const std::optional<int> level = Levels::parse(record.level))
        durations[*level].push_back(record.durationMs);

    if (record.level != Levels::name(Levels::basic) || !record.cpuId || record.cpuId->isEmpty())
        return;
    if (passed) {
        writes[*record.cpuId].append({ record.time, record.station });
        const QDateTime time = QDateTime::fromString(record.time, Qt::ISODateWithMs);
        if (time.isValid())
            ++byHour[time.toLocalTime().time().hour()];
    }
    const FirstAttempt attempt { record.time, record.station, day, record.seq, passed };
    const auto earlier = [](const FirstAttempt &a, const FirstAttempt &b) {
        return std::tie(a.time, a.station, a.day, a.seq) < std::tie(b.time, b.station, b.day, b.seq);
    };
    auto first = firstAttempts.find(*record.cpuId);
    if (first == firstAttempts.end())
        firstAttempts.insert(*record.cpuId, attempt);
    else if (earlier(attempt, *first))
        *first = attempt;
}

Figures Tally::figures() const
{
    Figures figures;
    figures.period = period;
    figures.attempts = attempts;
    figures.passedAttempts = passedAttempts;
    figures.refusedDuplicates = refusedDuplicates;
    figures.unitsWrittenByHour = byHour;

    QMap<QPair<QString, QDate>, StationDay> withUnits = days;
    for (const FirstAttempt &first : firstAttempts) {
        StationDay &stationDay = withUnits[{ first.station, first.day }];
        ++stationDay.units;
        ++figures.units;
        if (first.passed) {
            ++stationDay.firstPassUnits;
            ++figures.firstPassUnits;
        }
    }
    figures.stationDays = withUnits.values();

    for (auto failure = failureCounts.cbegin(); failure != failureCounts.cend(); ++failure)
        figures.failures.append({ failure.key(), failure.value() });
    std::stable_sort(figures.failures.begin(), figures.failures.end(),
        [](const ExitCodeCount &a, const ExitCodeCount &b) { return a.count > b.count; });

    for (auto level = durations.cbegin(); level != durations.cend(); ++level) {
        std::vector<qint64> sorted = level.value();
        std::sort(sorted.begin(), sorted.end());
        LevelCycle cycle;
        cycle.level = Levels::name(level.key());
        cycle.attempts = qint64(sorted.size());
        cycle.medianMs = discretePercentile(sorted, 0.5);
        cycle.p95Ms = discretePercentile(sorted, 0.95);
        for (const qint64 duration : sorted)
            ++cycle.histogram[size_t(cycleBucketOf(duration))];
        figures.cycles.append(cycle);
    }

    for (auto last = lastRecords.cbegin(); last != lastRecords.cend(); ++last)
        figures.stations.append({ last.key(), last.value(), QString() });

    for (auto cpuId = writes.cbegin(); cpuId != writes.cend(); ++cpuId) {
        if (cpuId.value().size() < 2)
            continue;
        QList<QPair<QString, QString>> inOrder = cpuId.value();
        std::sort(inOrder.begin(), inOrder.end());
        WrittenTwice twice { cpuId.key(), {}, {} };
        for (const auto &[time, station] : std::as_const(inOrder)) {
            twice.times.append(time);
            twice.stations.append(station);
        }
        figures.writtenTwice.append(twice);
    }
    std::sort(figures.writtenTwice.begin(), figures.writtenTwice.end(),
        [](const WrittenTwice &a, const WrittenTwice &b) {
            return std::tie(a.times.constFirst(), a.cpuId) < std::tie(b.times.constFirst(), b.cpuId);
        });
    figures.writtenTwiceCount = figures.writtenTwice.size();
    figures.writtenTwice = figures.writtenTwice.mid(0, listLimit);
    return figures;
}

bool figuresOfTraceFolder(const QString &directory, const Period &period, Figures *figures, QString *reason)
{
    if (!QFileInfo(directory).isDir()) {
        *reason = QStringLiteral("%1: no such folder").arg(QDir::toNativeSeparators(directory));
        return false;
    }
    Tally tally(period);
    QList<BrokenChain> broken;
    for (const QString &path : Trace::filesIn(directory)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *reason = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
            return false;
        }
        const QByteArray content = file.readAll();
        const QDate day = Trace::dateOfFileName(QFileInfo(path).fileName());
        QList<TraceRecord> records;
        const TraceVerification verification = verifyTrace(content, &records);
        if (verification.badLine > 0) {
            // The records count even past a break, as the line database keeps those it got.
            records.clear();
            for (const QByteArrayView line : Trace::lines(content)) {
                if (std::optional<TraceRecord> record = Trace::parseLine(line).record)
                    records.append(std::move(*record));
            }
            const QString station = records.isEmpty() ? QString() : records.constFirst().station;
            if (period.containsDay(day) && (station.isEmpty() || period.containsStation(station)))
                broken.append({ station, day, verification.badLine, verification.problem });
        }
        for (const TraceRecord &record : std::as_const(records))
            tally.add(day, record);
    }
    *figures = tally.figures();
    figures->source = QDir::toNativeSeparators(QDir(directory).absolutePath());
    figures->brokenChainCount = broken.size();
    figures->brokenChains = broken.mid(0, listLimit);
    for (const TraceClaim &claim : TraceClaims::all(directory)) {
        if (period.containsStation(claim.station))
            figures->inDoubt.append({ claim.cpuId, claim.station, claim.since });
    }
    std::sort(figures->inDoubt.begin(), figures->inDoubt.end(), [](const ClaimInDoubt &a, const ClaimInDoubt &b) {
        return std::tie(a.since, a.cpuId) < std::tie(b.since, b.cpuId);
    });
    figures->inDoubtCount = figures->inDoubt.size();
    figures->inDoubt = figures->inDoubt.mid(0, listLimit);
    return true;
}

} // namespace Report
