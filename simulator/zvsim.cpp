// zvsim: stages the simulated bench that the device library reads, and shows what
// the boards received. Output is one line per item; errors go to stderr.
#include "bench.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QMap>
#include <QSet>
#include <QTextStream>

#include <functional>
#include <optional>

using ZvSim::Bench;
using ZvSim::BenchState;
using ZvSim::Board;

namespace {

enum ExitCode { Ok = 0, Failed = 1, Usage = 2 };

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int fail(ExitCode code, const QString &message)
{
    QTextStream(stderr) << "zvsim: " << message << Qt::endl;
    return code;
}

struct Command
{
    QString name;
    QStringList arguments; // positional arguments after the command
    const QCommandLineParser &parser;
    const Bench &bench;
};

const QCommandLineOption stateOption(QStringLiteral("state"),
    QStringLiteral("Boot state: maskrom, loader or a number."), QStringLiteral("state"));
const QCommandLineOption cpuIdOption(
    QStringLiteral("cpuid"), QStringLiteral("CPU id as hex."), QStringLiteral("hex"));
const QCommandLineOption otpOption(QStringLiteral("otp"),
    QStringLiteral("Raw OTP bytes as hex, returned instead of the CPU id."), QStringLiteral("hex"));
const QCommandLineOption noOtpOption(
    QStringLiteral("no-otp"), QStringLiteral("Return the CPU id from the OTP read again."));
const QCommandLineOption failOption(QStringLiteral("fail"),
    QStringLiteral("Comma-separated calls that fail on this board."), QStringLiteral("calls"));
const QCommandLineOption noFailOption(
    QStringLiteral("no-fail"), QStringLiteral("Clear the board's failing calls."));
const QCommandLineOption delayOption(QStringLiteral("delay"),
    QStringLiteral("Delay of each call on this board, in ms."), QStringLiteral("ms"));
const QCommandLineOption tailOption(
    QStringLiteral("tail"), QStringLiteral("Show only the last N journal lines."), QStringLiteral("n"));

QString hexOrDash(const QByteArray &data)
{
    return data.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(data.toHex());
}

int loadBench(const Command &command, BenchState &state)
{
    QString error;
    return command.bench.load(state, &error) ? Ok : fail(Failed, error);
}

// Loads the bench, lets change edit it, and saves it when the change succeeded.
int changeBench(const Command &command, const std::function<int(BenchState &)> &change)
{
    BenchState state;
    int exitCode = loadBench(command, state);
    if (exitCode == Ok)
        exitCode = change(state);
    if (exitCode != Ok)
        return exitCode;
    QString error;
    return command.bench.save(state, &error) ? Ok : fail(Failed, error);
}

// Applies the board options given on the command line; the board is unchanged on error.
int applyBoardOptions(const QCommandLineParser &parser, Board &board)
{
    Board changed = board;
    if (parser.isSet(stateOption)) {
        const std::optional<int> state = ZvSim::parseState(parser.value(stateOption));
        if (!state)
            return fail(Usage,
                QStringLiteral("bad state \"%1\": use maskrom, loader or a number")
                    .arg(parser.value(stateOption)));
        changed.state = *state;
    }
    if (parser.isSet(cpuIdOption)) {
        const std::optional<QByteArray> cpuId = ZvSim::parseHex(parser.value(cpuIdOption));
        if (!cpuId || cpuId->size() > 126)
            return fail(Usage,
                QStringLiteral("bad hex for --cpuid: \"%1\" (even number of hex digits, at most 126 bytes)")
                    .arg(parser.value(cpuIdOption)));
        changed.cpuId = *cpuId;
    }
    if (parser.isSet(otpOption)) {
        changed.otp = ZvSim::parseHex(parser.value(otpOption));
        if (!changed.otp)
            return fail(Usage, QStringLiteral("bad hex for --otp: \"%1\"").arg(parser.value(otpOption)));
    }
    if (parser.isSet(noOtpOption))
        changed.otp.reset();
    if (parser.isSet(noFailOption))
        changed.failCalls.clear();
    if (parser.isSet(failOption)) {
        for (const QString &call : parser.value(failOption).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (!ZvSim::boardCalls().contains(call))
                return fail(Usage,
                    QStringLiteral("unknown call \"%1\": use one of %2")
                        .arg(call, ZvSim::boardCalls().join(QLatin1Char(','))));
            if (!changed.failCalls.contains(call))
                changed.failCalls.append(call);
        }
    }
    if (parser.isSet(delayOption)) {
        bool ok = false;
        changed.delayMs = parser.value(delayOption).toInt(&ok);
        if (!ok || changed.delayMs < 0)
            return fail(Usage,
                QStringLiteral("bad delay \"%1\": use milliseconds, 0 or more")
                    .arg(parser.value(delayOption)));
    }
    board = changed;
    return Ok;
}

int attach(const Command &command)
{
    return changeBench(command, [&](BenchState &state) {
        Board board;
        board.id = command.arguments.value(0);
        board.cpuId = ZvSim::defaultCpuId(board.id);
        const int exitCode = applyBoardOptions(command.parser, board);
        QString error;
        if (exitCode == Ok && !state.attach(board, &error))
            return fail(Usage, error);
        return exitCode;
    });
}

int detach(const Command &command)
{
    return changeBench(command, [&](BenchState &state) {
        const QString id = command.arguments.value(0);
        return state.detach(id) ? Ok : fail(Usage, QStringLiteral("unknown board %1").arg(id));
    });
}

int set(const Command &command)
{
    return changeBench(command, [&](BenchState &state) {
        const QString id = command.arguments.value(0);
        Board *board = state.board(id);
        if (!board)
            return fail(Usage, QStringLiteral("unknown board %1").arg(id));
        return applyBoardOptions(command.parser, *board);
    });
}

int list(const Command &command)
{
    BenchState state;
    if (const int exitCode = loadBench(command, state))
        return exitCode;
    out() << "init-fail " << (state.initializeFails ? "on" : "off") << '\n';
    out() << "scan-count " << (state.scanCount ? QString::number(*state.scanCount) : QStringLiteral("off"))
          << '\n';
    for (const Board &board : state.boards) {
        out() << "board " << board.id << ' ' << ZvSim::stateName(board.state)
              << " cpuid=" << hexOrDash(board.cpuId)
              << " otp=" << (board.otp ? hexOrDash(*board.otp) : QStringLiteral("-")) << " fail="
              << (board.failCalls.isEmpty() ? QStringLiteral("-") : board.failCalls.join(QLatin1Char(',')))
              << " delay=" << board.delayMs << '\n';
    }
    return Ok;
}

int dump(const Command &command)
{
    const QString id = command.arguments.value(0);
    BenchState state;
    if (const int exitCode = loadBench(command, state))
        return exitCode;
    const QStringList targets = command.bench.writtenTargets(id);
    if (!state.board(id) && targets.isEmpty())
        return fail(Usage, QStringLiteral("unknown board %1").arg(id));
    for (const QString &target : targets) {
        const QByteArray data = command.bench.readTarget(id, target);
        out() << target << ' ' << data.size() << ' ' << hexOrDash(data) << '\n';
    }
    return Ok;
}

int journal(const Command &command)
{
    int tail = -1;
    if (command.parser.isSet(tailOption)) {
        bool ok = false;
        tail = command.parser.value(tailOption).toInt(&ok);
        if (!ok || tail < 0)
            return fail(
                Usage, QStringLiteral("bad count for --tail: \"%1\"").arg(command.parser.value(tailOption)));
    }
    QString error;
    const QList<QJsonObject> entries = command.bench.readJournal(&error);
    if (!error.isEmpty())
        QTextStream(stderr) << "zvsim: " << error << Qt::endl;
    for (qsizetype i = tail < 0 ? 0 : std::max<qsizetype>(0, entries.size() - tail); i < entries.size(); ++i)
        out() << QString::fromUtf8(QJsonDocument(entries[i]).toJson(QJsonDocument::Compact)) << '\n';
    return Ok;
}

int initFail(const Command &command)
{
    const QString value = command.arguments.value(0);
    if (value != QLatin1String("on") && value != QLatin1String("off"))
        return fail(Usage, QStringLiteral("init-fail takes on or off, not \"%1\"").arg(value));
    return changeBench(command, [&](BenchState &state) {
        state.initializeFails = value == QLatin1String("on");
        return Ok;
    });
}

int scanCount(const Command &command)
{
    const QString value = command.arguments.value(0);
    bool ok = value == QLatin1String("off");
    const int count = value.toInt(ok ? nullptr : &ok);
    if (!ok)
        return fail(Usage, QStringLiteral("scan-count takes a number or off, not \"%1\"").arg(value));
    return changeBench(command, [&](BenchState &state) {
        state.scanCount = value == QLatin1String("off") ? std::nullopt : std::optional<int>(count);
        return Ok;
    });
}

int reset(const Command &command)
{
    QString error;
    return command.bench.reset(&error) ? Ok : fail(Failed, error);
}

struct CommandEntry
{
    int (*run)(const Command &);
    QString arguments; // usage of the positional arguments
    QList<QCommandLineOption> options;
};

const QMap<QString, CommandEntry> &commands()
{
    static const QMap<QString, CommandEntry> table {
        { QStringLiteral("attach"),
            { attach, QStringLiteral("ID"), { stateOption, cpuIdOption, otpOption } } },
        { QStringLiteral("detach"), { detach, QStringLiteral("ID"), {} } },
        { QStringLiteral("set"),
            { set, QStringLiteral("ID"),
                { stateOption, cpuIdOption, otpOption, noOtpOption, failOption, noFailOption,
                    delayOption } } },
        { QStringLiteral("list"), { list, QString(), {} } },
        { QStringLiteral("dump"), { dump, QStringLiteral("ID"), {} } },
        { QStringLiteral("journal"), { journal, QString(), { tailOption } } },
        { QStringLiteral("init-fail"), { initFail, QStringLiteral("on|off"), {} } },
        { QStringLiteral("scan-count"), { scanCount, QStringLiteral("N|off"), {} } },
        { QStringLiteral("reset"), { reset, QString(), {} } },
    };
    return table;
}

QString commandSummary()
{
    QStringList lines;
    for (auto it = commands().constBegin(); it != commands().constEnd(); ++it)
        lines.append(QLatin1String("  ") + (it.key() + QLatin1Char(' ') + it.value().arguments).trimmed());
    return lines.join(QLatin1Char('\n'));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zvsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Stage the simulated device bench and inspect it.\n\nCommands:\n") + commandSummary());
    parser.addHelpOption();
    const QCommandLineOption benchOption(QStringLiteral("bench"),
        QStringLiteral("Bench directory (default: $ZVSIM_BENCH, else \"bench\" beside zvsim)."),
        QStringLiteral("dir"));
    parser.addOption(benchOption);
    QSet<QString> commandOptions;
    for (const CommandEntry &entry : commands()) {
        for (const QCommandLineOption &option : entry.options) {
            if (!commandOptions.contains(option.names().first()))
                parser.addOption(option);
            commandOptions.insert(option.names().first());
        }
    }
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands above."));

    QStringList arguments = QCoreApplication::arguments();
    // "scan-count -1" stages a failed scan; without "--" the parser would take -1 for options.
    const int countAt = int(arguments.indexOf(QLatin1String("scan-count"))) + 1;
    if (countAt > 0 && countAt < arguments.size() && arguments[countAt].startsWith(QLatin1Char('-'))) {
        bool number = false;
        arguments[countAt].toInt(&number);
        if (number)
            arguments.insert(countAt, QStringLiteral("--"));
    }
    if (!parser.parse(arguments))
        return fail(Usage, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        // Printed, never shown in a message box as Qt does on Windows without a console.
        out() << parser.helpText() << Qt::flush;
        return Ok;
    }

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return fail(Usage, QStringLiteral("no command given; see zvsim --help"));
    const QString name = positional.takeFirst();
    const auto entry = commands().constFind(name);
    if (entry == commands().constEnd())
        return fail(Usage, QStringLiteral("unknown command \"%1\"; see zvsim --help").arg(name));

    const int expected = entry->arguments.isEmpty() ? 0 : 1;
    if (positional.size() != expected)
        return fail(Usage, QStringLiteral("usage: zvsim %1 %2").arg(name, entry->arguments).trimmed());
    for (const QString &given : parser.optionNames()) {
        const bool allowed = given == benchOption.names().first()
            || std::any_of(entry->options.begin(), entry->options.end(),
                [&](const QCommandLineOption &option) { return option.names().contains(given); });
        if (!allowed)
            return fail(Usage, QStringLiteral("%1 does not take --%2").arg(name, given));
    }

    const Bench bench(parser.isSet(benchOption) ? parser.value(benchOption) : Bench::defaultDirectory());
    const int exitCode = entry->run({ name, positional, parser, bench });
    out().flush();
    return exitCode;
}
