#include "linestation.h"

#include "lineupload.h"
#include "traceclaims.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

namespace {

constexpr std::chrono::seconds backgroundInterval(30);
// A long first upload keeps what it got through even if the program stops before the end.
constexpr int answersPerCursorWrite = 100;

// False once the thread is asked to stop: only the background thread ever is.
bool keepGoing()
{
    return !QThread::currentThread()->isInterruptionRequested();
}

} // namespace

struct LineStation::Private
{
    Private(const QString &conninfo, const QString &traceDirectory, LineOfflinePolicy policy,
        std::chrono::milliseconds timeout)
        : database(conninfo, timeout)
        , directory(traceDirectory)
        , policy(policy)
    {
    }

    LineDatabase database;
    const QString directory;
    const LineOfflinePolicy policy;
    // One upload at a time: the cursor is read and written by one of them only.
    QMutex uploadMutex;
    mutable QMutex stateMutex;
    LineState state;
    std::unique_ptr<QThread> thread;
};

LineStation::LineStation(const QString &conninfo, const QString &traceDirectory, LineOfflinePolicy policy,
    std::chrono::milliseconds timeout)
    : d(std::make_unique<Private>(conninfo, traceDirectory, policy, timeout))
{
    qRegisterMetaType<LineState>();
}

LineStation::~LineStation()
{
    if (d->thread) {
        // An upload under way stops before its next record, or gives up waiting for the
        // server: only this thread's calls, never a worker's claim.
        d->thread->requestInterruption();
        d->thread->quit();
        d->thread->wait();
    }
}

LineOfflinePolicy LineStation::offlinePolicy() const
{
    return d->policy;
}

LineDatabase &LineStation::database()
{
    return d->database;
}

LineState LineStation::state() const
{
    QMutexLocker locker(&d->stateMutex);
    return d->state;
}

void LineStation::setState(const LineState &state)
{
    bool changed = false;
    {
        QMutexLocker locker(&d->stateMutex);
        changed = state.online != d->state.online || state.waiting != d->state.waiting;
        d->state = state;
    }
    if (changed)
        emit stateChanged(state);
}

LineClaim LineStation::claim(const TraceRecord &record, bool takeWhenWritten)
{
    LineClaim claim;
    if (!record.cpuId || record.cpuId->isEmpty()) {
        claim.reason = QStringLiteral("the action names no CPU id to claim");
        return claim;
    }
    const TraceClaim own = TraceClaims::ownClaim(*record.cpuId, record.time, record.station);
    const LineDatabase::Result result = d->database.exec(
        QStringLiteral(
            "SELECT outcome, at_time, at_station FROM korvane.claim_cpu_id($1, $2, $3, $4, $5, $6)"),
        { own.cpuId, own.station, own.since, own.host, QString::number(own.pid),
            takeWhenWritten ? QStringLiteral("true") : QStringLiteral("false") });

    LineState state = this->state();
    state.online = result.ok;
    state.reason = result.error;
    if (!result.ok) {
        claim.reason = result.error;
        setState(state);
        return claim;
    }
    const QStringList row = result.rows.value(0);
    const QString outcome = row.value(0);
    claim.time = row.value(1);
    claim.station = row.value(2);
    if (outcome == QLatin1String("claimed")) {
        claim.outcome = LineClaim::Outcome::Claimed;
    } else if (outcome == QLatin1String("written")) {
        claim.outcome = LineClaim::Outcome::AlreadyWritten;
    } else if (outcome == QLatin1String("in_doubt")) {
        claim.outcome = LineClaim::Outcome::InDoubt;
    } else {
        claim = LineClaim();
        claim.reason = QStringLiteral("unexpected answer from the line database: %1").arg(outcome);
        state.online = false;
        state.reason = claim.reason;
    }
    setState(state);
    return claim;
}

LineState LineStation::uploadWaiting()
{
    QMutexLocker locker(&d->uploadMutex);
    return uploadLocked();
}

LineState LineStation::uploadLocked()
{
    const QHash<QString, qint64> cursor = LineUpload::readCursor(d->directory);
    QHash<QString, qint64> offsets;
    const QStringList files = Trace::filesIn(d->directory);
    for (const QString &path : files) {
        const QString name = QFileInfo(path).fileName();
        if (cursor.contains(name))
            offsets.insert(name, cursor.value(name));
    }

    LineState state;
    QString reason;
    state.online = d->database.connect(&reason);
    state.reason = reason;
    bool moved = false;
    if (state.online) {
        int sinceWrite = 0;
        for (const QString &path : files) {
            const QString name = QFileInfo(path).fileName();
            const qint64 offset = offsets.value(name, 0);
            if (offset > 0 && offset == QFileInfo(path).size())
                continue;
            const LineUpload::FileProgress progress = LineUpload::uploadFile(d->database, path, offset,
                keepGoing, [&](const LineUpload::WaitingLine &line, const LineUpload::Answer &answer) {
                    if (answer.outcome == LineUpload::Answer::Outcome::Failed)
                        return;
                    offsets.insert(name, line.end);
                    moved = true;
                    if (++sinceWrite >= answersPerCursorWrite) {
                        sinceWrite = 0;
                        LineUpload::writeCursor(d->directory, offsets);
                    }
                });
            if (!progress.complete) {
                state.online = !progress.failure.unreachable;
                state.reason = progress.failure.why;
                break;
            }
        }
    }
    if (moved && !LineUpload::writeCursor(d->directory, offsets) && state.reason.isEmpty())
        state.reason = QStringLiteral("cannot write %1").arg(LineUpload::cursorPath(d->directory));
    state.waiting = LineUpload::countWaiting(d->directory, offsets, keepGoing);
    // Stopped: the upload says nothing about the server, and the count fell short.
    if (keepGoing())
        setState(state);
    return state;
}

void LineStation::startBackgroundUploads()
{
    if (d->thread)
        return;
    d->thread = std::make_unique<QThread>();
    d->thread->setObjectName(QStringLiteral("line uploads"));
    auto *timer = new QTimer;
    timer->setInterval(backgroundInterval);
    timer->moveToThread(d->thread.get());
    // Uploads started by a worker go first: the background only fills the gaps.
    const auto upload = [this] {
        if (!d->uploadMutex.tryLock())
            return;
        // What waits is shown before the server is asked, which may take the whole timeout.
        if (state().waiting < 0) {
            LineState counted = state();
            counted.waiting
                = LineUpload::countWaiting(d->directory, LineUpload::readCursor(d->directory), keepGoing);
            if (keepGoing())
                setState(counted);
        }
        uploadLocked();
        d->uploadMutex.unlock();
    };
    connect(d->thread.get(), &QThread::started, timer, [timer, upload] {
        timer->start();
        upload();
    });
    connect(timer, &QTimer::timeout, timer, upload);
    connect(d->thread.get(), &QThread::finished, timer, &QObject::deleteLater);
    d->thread->start();
}
