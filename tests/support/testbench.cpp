#include "testbench.h"

#include <QtGlobal>

TestBench::TestBench(const QString &directory)
    : model(directory)
{
}

ZvSim::BenchState TestBench::load() const
{
    ZvSim::BenchState state;
    QString error;
    if (!model.load(state, &error))
        qFatal("test bench: %s", qPrintable(error));
    return state;
}

void TestBench::save(const ZvSim::BenchState &state) const
{
    QString error;
    if (!model.save(state, &error))
        qFatal("test bench: %s", qPrintable(error));
}

template <typename Change> void TestBench::changeBoard(const QString &id, Change change)
{
    ZvSim::BenchState state = load();
    ZvSim::Board *board = state.board(id);
    if (!board)
        qFatal("test bench: no board %s", qPrintable(id));
    change(*board);
    save(state);
}

void TestBench::attach(const QString &id, int state, const std::optional<QByteArray> &cpuId)
{
    ZvSim::BenchState bench = load();
    ZvSim::Board board;
    board.id = id;
    board.state = state;
    board.cpuId = cpuId.value_or(ZvSim::defaultCpuId(id));
    QString error;
    if (!bench.attach(board, &error))
        qFatal("test bench: %s", qPrintable(error));
    save(bench);
}

void TestBench::detach(const QString &id)
{
    ZvSim::BenchState state = load();
    if (!state.detach(id))
        qFatal("test bench: no board %s", qPrintable(id));
    save(state);
}

void TestBench::setState(const QString &id, int state)
{
    changeBoard(id, [&](ZvSim::Board &board) { board.state = state; });
}

void TestBench::setOtp(const QString &id, const QByteArray &raw)
{
    changeBoard(id, [&](ZvSim::Board &board) { board.otp = raw; });
}

void TestBench::failCall(const QString &id, const QString &call)
{
    if (!ZvSim::boardCalls().contains(call))
        qFatal("test bench: %s cannot fail per board", qPrintable(call));
    changeBoard(id, [&](ZvSim::Board &board) { board.failCalls.append(call); });
}

void TestBench::setDelay(const QString &id, int milliseconds)
{
    changeBoard(id, [&](ZvSim::Board &board) { board.delayMs = milliseconds; });
}

void TestBench::setInitializeFails(bool fails)
{
    ZvSim::BenchState state = load();
    state.initializeFails = fails;
    save(state);
}

void TestBench::setScanCount(std::optional<int> count)
{
    ZvSim::BenchState state = load();
    state.scanCount = count;
    save(state);
}

QByteArray TestBench::cpuId(const QString &id) const
{
    const ZvSim::BenchState state = load();
    const ZvSim::Board *board = state.board(id);
    if (!board)
        qFatal("test bench: no board %s", qPrintable(id));
    return board->cpuId;
}

QByteArray TestBench::written(const QString &id, const QString &target) const
{
    return model.readTarget(id, target);
}

QList<QJsonObject> TestBench::journal() const
{
    QString error;
    const QList<QJsonObject> entries = model.readJournal(&error);
    if (!error.isEmpty())
        qFatal("test bench: %s", qPrintable(error));
    return entries;
}

QList<QJsonObject> TestBench::journalCalls(const QString &call) const
{
    QList<QJsonObject> matching;
    for (const QJsonObject &entry : journal()) {
        if (entry.value(QLatin1String("call")).toString() == call)
            matching.append(entry);
    }
    return matching;
}
