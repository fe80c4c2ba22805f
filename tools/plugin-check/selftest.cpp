#include "selftest.h"

#include "actionlimits.h"
#include "exitcodes.h"
#include "guardedarea.h"

#include <QRandomGenerator>
#include <QThread>

#include <memory>
#include <vector>

namespace {

// The Basic action's output area: one AES block, whatever the id's length.
constexpr qsizetype BasicOutputSize = 16;
constexpr qsizetype MaxCpuIdLength = 16;

// One level as the actions call it.
struct Level
{
    QString name;
    const char *encryptName;
    int exitCodeOnFailure;
    korvane_doBasicEncrypt_fn encrypt;
    bool addsKey;
    qsizetype (*outputSize)(qsizetype inputSize);
};

// One call sequence: addBufferParam for each parameter, then the encrypt call.
struct Run
{
    char guard;
    char fill; // what the output area holds before the call
    bool overwriteParameters; // right after each addBufferParam returns
    char overwriteWith;
};

// Runs 0 and 1 pass a zeroed area as the actions do; 2 and 3 overwrite the
// parameters' buffers; 4 pre-fills the area, to see bytes the plug-in left alone.
// Alternating guard values catch a stray write of any value.
constexpr Run runs[] = {
    { '\xc3', '\0', false, '\0' },
    { '\x3c', '\0', false, '\0' },
    { '\xc3', '\0', true, '\x5a' },
    { '\x3c', '\0', true, '\xa5' },
    { '\xc3', '\xff', false, '\0' },
};
constexpr int RunCount = int(std::size(runs));

struct RunResult
{
    qint32 returned = 0;
    qint32 errorCode = 0;
    QByteArray output;
    QString damage;
};

Buffer_T view(QByteArray &bytes)
{
    return Buffer_T { reinterpret_cast<uint8_t *>(bytes.data()), static_cast<uint32_t>(bytes.size()) };
}

// Each action runs on a thread of its own; so does each run here.
RunResult runOnce(const PluginEntryTable &plugin, const Level &level, const QByteArray &input,
    const std::optional<QByteArray> &aesKey, const Run &run)
{
    RunResult result;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        // Deep copies that belong to this run alone, since they get overwritten.
        QByteArray plaintext(input.constData(), input.size());
        plugin.addBufferParam(KORVANE_PARAM_PLAINTEXT, view(plaintext));
        if (run.overwriteParameters)
            plaintext.fill(run.overwriteWith);
        if (level.addsKey && aesKey) {
            QByteArray key(aesKey->constData(), aesKey->size());
            plugin.addBufferParam(KORVANE_PARAM_AESKEY, view(key));
            if (run.overwriteParameters)
                key.fill(run.overwriteWith);
        }
        GuardedArea area(level.outputSize(input.size()), run.guard, run.fill);
        result.returned = level.encrypt(area.view());
        if (result.returned == 0)
            result.errorCode = plugin.getErrorCode();
        result.output = area.content();
        result.damage = area.damage();
    }));
    thread->start();
    thread->wait();
    return result;
}

qsizetype firstDifference(const QByteArray &a, const QByteArray &b)
{
    const qsizetype size = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < size; ++i) {
        if (a.at(i) != b.at(i))
            return i;
    }
    return a.size() == b.size() ? -1 : size;
}

QByteArray sampleInput(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

class InputCheck
{
public:
    InputCheck(const Level &level, const QByteArray &input, const CheckReporter &report)
        : level(level)
        , subject(QStringLiteral("length=%1").arg(input.size()))
        , report(report)
    {
    }

    void evaluate(const RunResult (&results)[RunCount], qsizetype boardBytes)
    {
        int failedRun = -1;
        for (int i = 0; i < RunCount && failedRun < 0; ++i) {
            if (results[i].returned == 0)
                failedRun = i;
        }
        if (failedRun >= 0) {
            fail(QStringLiteral("encrypt"),
                QStringLiteral(
                    "%1 returned 0 in run %2 of %3 (getErrorCode: %4); Korvane ends the action with %5")
                    .arg(QLatin1String(level.encryptName))
                    .arg(failedRun + 1)
                    .arg(RunCount)
                    .arg(results[failedRun].errorCode)
                    .arg(level.exitCodeOnFailure));
        } else {
            pass(QStringLiteral("encrypt"));
        }

        QString damage;
        for (int i = 0; i < RunCount && damage.isEmpty(); ++i) {
            if (!results[i].damage.isEmpty())
                damage = QStringLiteral("run %1 %2").arg(i + 1).arg(results[i].damage);
        }
        if (damage.isEmpty())
            pass(QStringLiteral("guards"));
        else
            fail(QStringLiteral("guards"), damage);

        const QString repeat = QStringLiteral("repeat");
        const QString copies = QStringLiteral("copies");
        const QString fill = QStringLiteral("fill");
        if (failedRun >= 0)
            return skip({ repeat, copies, fill }, QStringLiteral("the encrypt call failed"));

        // Only the bytes that reach the board count.
        const auto board = [&](int run) { return results[run].output.left(boardBytes); };
        const qsizetype drift = firstDifference(board(0), board(1));
        if (drift >= 0) {
            fail(repeat,
                QStringLiteral("the same input gave other bytes the second time, first at offset %1")
                    .arg(drift));
            return skip({ copies, fill }, QStringLiteral("the results do not repeat"));
        }
        pass(repeat);

        qsizetype borrowed = firstDifference(board(0), board(2));
        if (borrowed < 0)
            borrowed = firstDifference(board(0), board(3));
        if (borrowed >= 0) {
            fail(copies,
                QStringLiteral("the result changed when the buffers given to addBufferParam were overwritten "
                               "right after the call, first at offset %1: keep copies of the parameters")
                    .arg(borrowed));
        } else {
            pass(copies);
        }

        const qsizetype untouched = firstDifference(board(0), board(4));
        if (untouched >= 0) {
            fail(fill,
                QStringLiteral("byte %1 of the %2 that reach the board was not written: it kept what the "
                               "output area held before the call")
                    .arg(untouched)
                    .arg(boardBytes));
        } else {
            pass(fill);
        }
    }

private:
    void pass(const QString &check) { emitResult(CheckResult::Outcome::Pass, check, QString()); }
    void fail(const QString &check, const QString &reason)
    {
        emitResult(CheckResult::Outcome::Fail, check, reason);
    }
    void skip(const QStringList &checks, const QString &reason)
    {
        for (const QString &check : checks)
            emitResult(CheckResult::Outcome::Skip, check, reason);
    }
    void emitResult(CheckResult::Outcome outcome, const QString &check, const QString &reason)
    {
        report(CheckResult { outcome, level.name + QLatin1Char('-') + check, subject, reason });
    }

    const Level &level;
    QString subject;
    const CheckReporter &report;
};

// In both levels the board receives as many bytes as the input has.
void checkLevel(const PluginEntryTable &plugin, const Level &level, const std::vector<qsizetype> &inputSizes,
    const std::optional<QByteArray> &aesKey, const CheckReporter &report)
{
    for (const qsizetype size : inputSizes) {
        const QByteArray input = sampleInput(size, quint32(size) + 1);
        RunResult results[RunCount];
        for (int i = 0; i < RunCount; ++i)
            results[i] = runOnce(plugin, level, input, aesKey, runs[i]);
        InputCheck(level, input, report).evaluate(results, size);
    }
}

void skipLevel(const QString &name, const QString &reason, const CheckReporter &report)
{
    report(CheckResult { CheckResult::Outcome::Skip, name, QString(), reason });
}

} // namespace

void runSelfTest(const PluginEntryTable &plugin, qint32 proofLevel, const std::optional<QByteArray> &aesKey,
    const CheckReporter &report)
{
    if (proofLevel & KORVANE_PROOF_BASIC) {
        // The CPU id comes from the OTP area and may be 0 to 16 bytes long; the area
        // is 16 bytes, of which the id's length goes to the board.
        const Level basic { QStringLiteral("basic"), "doBasicEncrypt", ExitCode::EncryptCpuIdFailed, plugin.doBasicEncrypt, true,
            [](qsizetype) { return BasicOutputSize; } };
        std::vector<qsizetype> lengths;
        for (qsizetype length = 0; length <= MaxCpuIdLength; ++length)
            lengths.push_back(length);
        checkLevel(plugin, basic, lengths, aesKey, report);
    } else {
        skipLevel(
            QStringLiteral("basic"), QStringLiteral("the plug-in does not announce Basic Level"), report);
    }

    if (proofLevel & KORVANE_PROOF_MIDDLE) {
        // The data file is written whole: its encryption is exactly as long.
        const Level middle { QStringLiteral("middle"), "doMiddleEncrypt", ExitCode::EncryptDataFailed, plugin.doMiddleEncrypt, false,
            [](qsizetype size) { return size; } };
        checkLevel(plugin, middle, { 0, 1, 15, 16, 17, 1000, 4096, MaxProofDataSize }, aesKey, report);
    } else {
        skipLevel(
            QStringLiteral("middle"), QStringLiteral("the plug-in does not announce Middle Level"), report);
    }

    skipLevel(QStringLiteral("high"),
        QStringLiteral("Korvane writes the OEM key itself; the plug-in takes no part"), report);
}

QString selfTestHelp()
{
    return QStringLiteral(
        "Self-test (--self-test): the plug-in is called as the actions call it, each run on\n"
        "a thread of its own. Basic: \"PLAINTEXT\" is a CPU id of each length 0 to 16, then\n"
        "\"AESKEY\" when --key is given, then doBasicEncrypt on a zeroed 16-byte area.\n"
        "Middle: \"PLAINTEXT\" is data of 0, 1, 15, 16, 17, 1000, 4096 and 65535 bytes, then\n"
        "doMiddleEncrypt on a zeroed area of the same length. Parameters are never\n"
        "cleared, as in Korvane.\n"
        "Each input is run five times; one line per check and input:\n"
        "  <level>-encrypt  every encrypt call returns nonzero (0 ends Korvane's action\n"
        "                   with -2 for Basic, -6 for Middle).\n"
        "  <level>-guards   nothing is written in the 64 bytes before or after the output\n"
        "                   area (two guard values, so a stray write of any value shows).\n"
        "  <level>-repeat   the same input and key give the same bytes a second time.\n"
        "  <level>-copies   the result stays the same when the buffers given to\n"
        "                   addBufferParam are overwritten right after the call: the\n"
        "                   plug-in must keep copies, the buffers are valid only then.\n"
        "  <level>-fill     every byte that reaches the board is written by the plug-in\n"
        "                   (seen with a pre-filled area): the CPU id's length of the\n"
        "                   Basic area, all of the Middle area.\n"
        "Only the bytes that reach the board are compared. A level the plug-in does not\n"
        "announce is skipped, as Korvane refuses to run it; High Level never calls the\n"
        "plug-in.\n");
}
