#pragma once

#include "linedatabase.h"
#include "tracerecord.h"

#include <QObject>
#include <QString>

#include <memory>

// What a station does when the line database does not answer.
enum class LineOfflinePolicy {
    Refuse, // a guarded Basic action is refused
    Local, // the station's own index decides; the records wait
};

// The answer of the line database to a claim of a CPU id before its board is written.
struct LineClaim
{
    enum class Outcome {
        Claimed, // this station holds it now
        AlreadyWritten, // a successful Basic record or a settled claim names it: time, station of the first
        InDoubt, // claimed by a station and never settled: since, station of that claim
        Unreachable, // no answer, refused, or a schema missing or newer: reason
    };
    Outcome outcome = Outcome::Unreachable;
    QString time;
    QString station;
    QString reason; // Unreachable: libpq's or the server's words
};

// Whether the station reaches the line database, and how many of its records wait.
struct LineState
{
    bool online = false;
    // -1 until counted: the first count is made off the caller's thread, as reading a long
    // trace takes a while.
    qint64 waiting = -1;
    // Why the last call did not get through, or why uploading stopped; empty when it did.
    QString reason;
};

// A station's side of the line database: claims CPU ids line-wide before their boards
// are written, and uploads the records of its trace directory, oldest first, after the
// local file has them. The local trace stays the source of truth: what cannot be
// uploaded waits, and how far the upload got is kept beside the trace. Thread-safe:
// workers claim and upload on their threads, the window only watches stateChanged.
class LineStation : public QObject
{
    Q_OBJECT

public:
    LineStation(const QString &conninfo, const QString &traceDirectory, LineOfflinePolicy policy,
        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~LineStation() override;

    LineOfflinePolicy offlinePolicy() const;

    // Claims the record's CPU id for the action it describes ("time", "station").
    // takeWhenWritten: with warn, the claim is taken even when the CPU id was written.
    LineClaim claim(const TraceRecord &record, bool takeWhenWritten);

    // Uploads every complete record of the trace directory not yet uploaded, oldest first;
    // a record's upload settles its claim. Returns the state afterwards. Bounded by the
    // connection's timeout when the server does not answer.
    LineState uploadWaiting();

    // Counts what waits, then uploads, in the background now and every little while from
    // now on, never on the calling thread: for the window, whose start must wait neither
    // for the server nor for reading the trace.
    void startBackgroundUploads();

    LineState state() const;

    // The connection, shared by the claims and the uploads.
    LineDatabase &database();

signals:
    void stateChanged(LineState state);

private:
    LineState uploadLocked();
    void setState(const LineState &state);

    struct Private;
    std::unique_ptr<Private> d;
};

Q_DECLARE_METATYPE(LineState)
