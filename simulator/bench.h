#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The simulated bench: a directory holding bench.json (the attached boards and the
// injected faults), what each board has received under boards/<id>/, and
// journal.jsonl, one JSON object per device library call. The device library, the
// zvsim CLI and the tests all go through this model, so there is one format only.
namespace ZvSim {

// Boot states as the device record reports them; any other value is an invalid board.
enum BootState { Maskrom = 1, Loader = 2 };

struct Board
{
    QString id;
    int state = Loader;
    QByteArray cpuId;
    // Raw OTP content returned instead of [count, cpuId...], to stage odd count bytes.
    std::optional<QByteArray> otp;
    QStringList failCalls;
    int delayMs = 0;

    bool fails(const char *call) const { return failCalls.contains(QLatin1String(call)); }
};

struct BenchState
{
    bool initializeFails = false;
    // Overrides the board count that the scan returns, e.g. -1 for a failed scan.
    std::optional<int> scanCount;
    QList<Board> boards;

    Board *board(const QString &id);
    const Board *board(const QString &id) const;
    // Fails when the id is not usable as a directory name or already attached.
    bool attach(const Board &board, QString *error);
    bool detach(const QString &id);
};

// The five calls that act on boards and can be made to fail per board.
QStringList boardCalls();

bool isValidBoardId(const QString &id);
// The cpuId a board gets when none is given: 16 bytes derived from its id.
QByteArray defaultCpuId(const QString &id);
// Strict hex: an even number of hex digits, nothing else. Empty text is empty bytes.
std::optional<QByteArray> parseHex(const QString &text);
// Boot state from "maskrom", "loader" or a decimal number.
std::optional<int> parseState(const QString &text);
QString stateName(int state);

// File stem of each write target under boards/<id>/.
QString vendorRpmbTarget(int area);
QString proofDataTarget();
QString proofKeyTarget(int keyIndex);

class Bench
{
public:
    explicit Bench(const QString &directory);

    // ZVSIM_BENCH when set, else a folder "bench" beside the running executable.
    static QString defaultDirectory();

    QString directory() const { return root; }
    QString benchFilePath() const;
    QString journalFilePath() const;

    // A missing bench.json is an empty bench; an unreadable or invalid one is an error.
    bool load(BenchState &state, QString *error) const;
    bool save(const BenchState &state, QString *error) const;

    bool writeTarget(
        const QString &boardId, const QString &target, const QByteArray &data, QString *error) const;
    // Null when the board never received anything for this target.
    QByteArray readTarget(const QString &boardId, const QString &target) const;
    // Targets that the board has received, sorted by name.
    QStringList writtenTargets(const QString &boardId) const;

    bool appendJournal(const QJsonObject &entry, QString *error) const;
    // Lines that are not JSON objects are reported through error and skipped.
    QList<QJsonObject> readJournal(QString *error) const;

    // Removes bench.json, the journal and everything the boards received.
    bool reset(QString *error) const;

private:
    QString boardDirectory(const QString &boardId) const;

    QString root;
};

} // namespace ZvSim
