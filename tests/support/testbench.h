#pragma once

#include "bench.h"

#include <functional>

// Stages boards and faults on a simulated bench and reads back what the device
// library received. The library re-reads the bench on every call, so each change
// takes effect at once. A bench that cannot be written or an unknown board id is a
// broken test set-up and ends the test run.
class TestBench
{
public:
    explicit TestBench(const QString &directory)
        : model(directory)
    {
    }

    // Boards get a 16-byte cpuId derived from their id, unless one is given.
    void attach(const QString &id, int state = ZvSim::Loader, const QByteArray &cpuId = {});
    void detach(const QString &id);
    void setState(const QString &id, int state) { setField(id, &ZvSim::Board::state, state); }
    void setOtp(const QString &id, const QByteArray &raw) { setField(id, &ZvSim::Board::otp, raw); }
    void failCall(const QString &id, const QString &call);
    void setDelay(const QString &id, int milliseconds) { setField(id, &ZvSim::Board::delayMs, milliseconds); }
    void setInitializeFails(bool fails) { setField(&ZvSim::BenchState::initializeFails, fails); }
    void setScanCount(std::optional<int> count) { setField(&ZvSim::BenchState::scanCount, count); }

    QByteArray cpuId(const QString &id) const { return ZvSim::defaultCpuId(id); }

    // Null when the board never received the target (ZvSim::vendorRpmbTarget() and the like).
    QByteArray written(const QString &id, const QString &target) const
    {
        return model.readTarget(id, target);
    }
    QList<QJsonObject> journal() const;
    QList<QJsonObject> journalCalls(const QString &call) const;
    // The names of the calls from the journal's entry at start on, scans left out.
    QStringList callsSince(qsizetype start) const;

    const ZvSim::Bench &bench() const { return model; }

private:
    void change(const std::function<void(ZvSim::BenchState &)> &edit);
    void changeBoard(const QString &id, const std::function<void(ZvSim::Board &)> &edit);
    template <typename Field, typename Value>
    void setField(const QString &id, Field ZvSim::Board::*field, const Value &value)
    {
        changeBoard(id, [&](ZvSim::Board &board) { board.*field = value; });
    }
    template <typename Field, typename Value>
    void setField(Field ZvSim::BenchState::*field, const Value &value)
    {
        change([&](ZvSim::BenchState &state) { state.*field = value; });
    }

    ZvSim::Bench model;
};
