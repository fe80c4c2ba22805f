#include "testbench.h"

namespace {

void require(bool ok, const QString &error)
{
    if (!ok)
        qFatal("test bench: %s", qPrintable(error));
}

} // namespace

void TestBench::change(const std::function<void(ZvSim::BenchState &)> &edit)
{
    ZvSim::BenchState state;
    QString error;
    require(model.load(state, &error), error);
    edit(state);
    require(model.save(state, &error), error);
}

void TestBench::changeBoard(const QString &id, const std::function<void(ZvSim::Board &)> &edit)
{
    change([&](ZvSim::BenchState &state) {
        require(state.board(id), "no board " + id);
        edit(*state.board(id));
    });
}

void TestBench::attach(const QString &id, int state, const QByteArray &cpuId)
{
    change([&](ZvSim::BenchState &bench) {
        ZvSim::Board board;
        board.id = id;
        board.state = state;
        board.cpuId = cpuId.isEmpty() ? ZvSim::defaultCpuId(id) : cpuId;
        QString error;
        require(bench.attach(board, &error), error);
    });
}

void TestBench::detach(const QString &id)
{
    change([&](ZvSim::BenchState &state) { require(state.detach(id), "no board " + id); });
}

void TestBench::failCall(const QString &id, const QString &call)
{
    require(ZvSim::boardCalls().contains(call), call + " cannot fail per board");
    changeBoard(id, [&](ZvSim::Board &board) { board.failCalls.append(call); });
}

QList<QJsonObject> TestBench::journal() const
{
    QString error;
    const QList<QJsonObject> entries = model.readJournal(&error);
    require(error.isEmpty(), error);
    return entries;
}

QList<QJsonObject> TestBench::journalCalls(const QString &call) const
{
    QList<QJsonObject> matching = journal();
    matching.removeIf([&](const QJsonObject &entry) { return entry["call"].toString() != call; });
    return matching;
}

QStringList TestBench::callsSince(qsizetype start) const
{
    QStringList calls;
    for (const QJsonObject &entry : journal().mid(start))
        calls.append(entry.value(QStringLiteral("call")).toString());
    calls.removeAll(QStringLiteral("ZV_ScanDeviceW"));
    return calls;
}
