// The device access library, simulated: every call acts on the bench directory
// (bench.h) instead of USB, and appends one line to the bench journal.
//
// Behaviour where a real board would decide:
//  - The library keeps no state between calls: the bench is re-read on every call,
//    and no call requires ZV_InitializeW to have succeeded first.
//  - The OTP read and the writes need exactly one attached board, in the Maskrom or
//    Loader state. Their reserved arguments, and the offset of the vendor RPMB
//    write, must be 0; the key index runs from 0 to 3. Zero-length writes are writes.
//  - A board's delayMs delays the OTP read and the writes (outside the bench lock,
//    so a scan on another thread goes on), never the scan: enumeration does not
//    cross the slow link. A board that changes during the delay fails the call.
//  - A board whose failCalls holds "ZV_ScanDeviceW" is left out of scans.
#include "ZVUpgrade_DLL.h"

#include "bench.h"

#include <QDateTime>
#include <QJsonArray>
#include <QThread>
#include <QThreadStorage>

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using ZvSim::Bench;
using ZvSim::BenchState;
using ZvSim::Board;

namespace {

// One lock around every bench access and journal append of this process.
std::mutex &benchMutex()
{
    static std::mutex mutex;
    return mutex;
}

struct Outcome
{
    int32_t result = 0;
    QString error;
    QString benchError;
    QString board;
    QJsonObject output;
};

QString toHex(const void *data, int length)
{
    if (!data || length <= 0)
        return QString();
    return QString::fromLatin1(QByteArray::fromRawData(static_cast<const char *>(data), length).toHex());
}

QByteArray bytes(const uint8_t *data, uint16_t length)
{
    return length == 0 ? QByteArray("") : QByteArray(reinterpret_cast<const char *>(data), length);
}

QString threadId()
{
    return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()));
}

// Caller holds benchMutex().
void journal(const Bench &bench, const char *call, const QJsonObject &args, const Outcome &outcome)
{
    QJsonObject entry {
        { QStringLiteral("call"), QLatin1String(call) },
        { QStringLiteral("args"), args },
        { QStringLiteral("result"), outcome.result },
        { QStringLiteral("thread"), threadId() },
        { QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs) },
    };
    if (!outcome.board.isEmpty())
        entry.insert(QStringLiteral("board"), outcome.board);
    if (!outcome.error.isEmpty())
        entry.insert(QStringLiteral("error"), outcome.error);
    if (!outcome.benchError.isEmpty())
        entry.insert(QStringLiteral("benchError"), outcome.benchError);
    for (auto it = outcome.output.constBegin(); it != outcome.output.constEnd(); ++it)
        entry.insert(it.key(), it.value());
    QString ignored; // a bench without a directory has no journal to write
    bench.appendJournal(entry, &ignored);
}

// An unreadable bench.json is an empty bench; the journal line says why.
BenchState loadBench(const Bench &bench, Outcome &outcome)
{
    BenchState state;
    QString error;
    if (!bench.load(state, &error))
        outcome.benchError = error;
    return state;
}

// Caller holds benchMutex(). The one attached board, when it can be talked to.
std::optional<Board> attachedBoard(const Bench &bench, Outcome &outcome)
{
    const BenchState state = loadBench(bench, outcome);
    if (state.boards.size() != 1) {
        outcome.error = state.boards.isEmpty()
            ? QStringLiteral("no board attached")
            : QStringLiteral("%1 boards attached").arg(state.boards.size());
        return std::nullopt;
    }
    const Board &board = state.boards.first();
    outcome.board = board.id;
    if (board.state != ZvSim::Maskrom && board.state != ZvSim::Loader) {
        outcome.error = QStringLiteral("board in invalid state %1").arg(board.state);
        return std::nullopt;
    }
    return board;
}

using BoardAction = std::function<bool(const Bench &, const Board &, Outcome &)>;

// Runs one call against the single attached board: argument check, the board's
// delay, its injected failure, then the action; journals the outcome in every case.
int32_t onBoard(
    const char *call, const QJsonObject &args, const QString &argumentError, const BoardAction &act)
{
    const Bench bench(Bench::defaultDirectory());
    Outcome outcome;
    QString firstBoard;
    int delayMs = 0;
    {
        std::lock_guard<std::mutex> lock(benchMutex());
        outcome.error = argumentError;
        if (outcome.error.isEmpty()) {
            if (const std::optional<Board> board = attachedBoard(bench, outcome)) {
                firstBoard = board->id;
                delayMs = board->delayMs;
            }
        }
        if (!outcome.error.isEmpty()) {
            journal(bench, call, args, outcome);
            return 0;
        }
    }
    // Slept without the lock: a slow board must not hold up a scan on another thread.
    if (delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));

    std::lock_guard<std::mutex> lock(benchMutex());
    outcome = Outcome();
    const std::optional<Board> board = attachedBoard(bench, outcome);
    if (board && board->id != firstBoard)
        outcome.error = QStringLiteral("board changed during the call");
    else if (board && board->fails(call))
        outcome.error = QStringLiteral("injected failure");
    else if (board && act(bench, *board, outcome))
        outcome.result = 1;
    journal(bench, call, args, outcome);
    return outcome.result;
}

int32_t writeTarget(const char *call, const QJsonObject &args, QString argumentError, const uint8_t *data,
    uint16_t length, const QString &target)
{
    if (argumentError.isEmpty() && !data && length > 0)
        argumentError = QStringLiteral("null data");
    return onBoard(call, args, argumentError, [&](const Bench &bench, const Board &board, Outcome &outcome) {
        return bench.writeTarget(board.id, target, bytes(data, length), &outcome.error);
    });
}

QString reservedError(std::initializer_list<int32_t> reserved)
{
    for (const int32_t value : reserved) {
        if (value != 0)
            return QStringLiteral("reserved argument not 0");
    }
    return QString();
}

QJsonValue logDirectory(const ZV_LogSettings &log)
{
    if (log.enabled == 0 || !log.directory)
        return QJsonValue::Null;
    const uint16_t *path = log.directory;
    int length = 0;
    while (length < 32767 && path[length] != 0)
        ++length;
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(path), length);
}

} // namespace

int32_t ZV_CALL ZV_InitializeW(ZV_Settings settings, ZV_LogSettings log, ZV_Extra extra)
{
    QJsonArray fields;
    const int32_t *values = reinterpret_cast<const int32_t *>(&settings);
    for (size_t i = 0; i < sizeof settings / sizeof(int32_t); ++i)
        fields.append(values[i]);
    const QJsonObject args {
        { QStringLiteral("settings"), fields },
        { QStringLiteral("logEnabled"), log.enabled },
        { QStringLiteral("logDirectory"), logDirectory(log) },
        { QStringLiteral("extra"), toHex(extra.reserved, sizeof extra.reserved) },
    };
    const Bench bench(Bench::defaultDirectory());
    std::lock_guard<std::mutex> lock(benchMutex());
    Outcome outcome;
    if (loadBench(bench, outcome).initializeFails)
        outcome.error = QStringLiteral("injected failure");
    else
        outcome.result = 1;
    journal(bench, "ZV_InitializeW", args, outcome);
    return outcome.result;
}

int32_t ZV_CALL ZV_Uninitialize(void)
{
    const Bench bench(Bench::defaultDirectory());
    std::lock_guard<std::mutex> lock(benchMutex());
    Outcome outcome;
    outcome.result = 1;
    journal(bench, "ZV_Uninitialize", QJsonObject(), outcome);
    return outcome.result;
}

int32_t ZV_CALL ZV_ScanDeviceW(ZV_DeviceRecord **devices)
{
    // Valid for the calling thread until its next scan, so a scan on the GUI thread
    // never invalidates records another thread is reading. QThreadStorage, not a
    // thread_local: mingw-w64 runs thread_local destructors on already freed storage.
    static QThreadStorage<std::vector<ZV_DeviceRecord>> perThread;
    std::vector<ZV_DeviceRecord> &records = perThread.localData();

    const Bench bench(Bench::defaultDirectory());
    std::lock_guard<std::mutex> lock(benchMutex());
    Outcome outcome;
    if (!devices) {
        outcome.result = -1;
        outcome.error = QStringLiteral("null list pointer");
        journal(bench, "ZV_ScanDeviceW", QJsonObject(), outcome);
        return outcome.result;
    }
    const BenchState state = loadBench(bench, outcome);
    QList<Board> seen;
    for (const Board &board : state.boards) {
        if (!board.fails("ZV_ScanDeviceW"))
            seen.append(board);
    }
    outcome.result = state.scanCount.value_or(int(seen.size()));

    // A count staged above the number of boards reads as zeroed records (invalid state).
    records.assign(size_t(std::max(int(seen.size()), outcome.result)), ZV_DeviceRecord());
    QJsonArray ids;
    for (int i = 0; i < seen.size(); ++i) {
        ZV_DeviceRecord &record = records[size_t(i)];
        record.boardId = uint32_t(i + 1);
        record.bootState = seen[i].state;
        const QString location = QStringLiteral("bench/") + seen[i].id;
        const int chars = std::min(int(location.size()), ZV_LOCATION_CHARS - 1);
        std::memcpy(record.location, location.utf16(), size_t(chars) * sizeof(uint16_t));
        ids.append(seen[i].id);
    }
    *devices = records.empty() ? nullptr : records.data();
    outcome.output.insert(QStringLiteral("boards"), ids);
    journal(bench, "ZV_ScanDeviceW", QJsonObject(), outcome);
    return outcome.result;
}

int32_t ZV_CALL ZV_ReadOtpData(uint8_t *buffer, uint16_t length, int32_t reserved1, int32_t reserved2)
{
    const QJsonObject args { { QStringLiteral("length"), length }, { QStringLiteral("reserved1"), reserved1 },
        { QStringLiteral("reserved2"), reserved2 } };
    QString argumentError = reservedError({ reserved1, reserved2 });
    if (argumentError.isEmpty() && (!buffer || length == 0))
        argumentError = QStringLiteral("no buffer");
    return onBoard(
        "ZV_ReadOtpData", args, argumentError, [&](const Bench &, const Board &board, Outcome &outcome) {
            const QByteArray otp = board.otp.value_or(char(board.cpuId.size() + 1) + board.cpuId);
            const int copied = std::min(int(otp.size()), int(length));
            std::memcpy(buffer, otp.constData(), size_t(copied));
            outcome.output.insert(QStringLiteral("otp"), toHex(buffer, copied));
            return true;
        });
}

int32_t ZV_CALL ZV_WriteVendorRpmbData(
    int32_t area, int32_t offset, const uint8_t *data, uint16_t length, int32_t reserved)
{
    const QJsonObject args { { QStringLiteral("area"), area }, { QStringLiteral("offset"), offset },
        { QStringLiteral("length"), length }, { QStringLiteral("data"), toHex(data, length) },
        { QStringLiteral("reserved"), reserved } };
    QString argumentError = reservedError({ reserved });
    if (offset != 0)
        argumentError = QStringLiteral("offset not supported");
    if (area < 0)
        argumentError = QStringLiteral("invalid area");
    return writeTarget(
        "ZV_WriteVendorRpmbData", args, argumentError, data, length, ZvSim::vendorRpmbTarget(area));
}

int32_t ZV_CALL ZV_WriteProofData(const uint8_t *data, uint16_t length, int32_t reserved)
{
    const QJsonObject args { { QStringLiteral("length"), length },
        { QStringLiteral("data"), toHex(data, length) }, { QStringLiteral("reserved"), reserved } };
    return writeTarget(
        "ZV_WriteProofData", args, reservedError({ reserved }), data, length, ZvSim::proofDataTarget());
}

int32_t ZV_CALL ZV_WriteProofKey(const uint8_t *data, uint16_t length, uint8_t keyIndex, int32_t reserved)
{
    const QJsonObject args { { QStringLiteral("length"), length }, { QStringLiteral("keyIndex"), keyIndex },
        { QStringLiteral("data"), toHex(data, length) }, { QStringLiteral("reserved"), reserved } };
    QString argumentError = reservedError({ reserved });
    if (keyIndex > 3)
        argumentError = QStringLiteral("invalid key index");
    return writeTarget(
        "ZV_WriteProofKey", args, argumentError, data, length, ZvSim::proofKeyTarget(keyIndex));
}
