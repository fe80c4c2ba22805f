#pragma once

#include "bench.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Stages boards and faults on a simulated bench and reads back what the device
// library received. The library re-reads the bench on every call, so each change
// takes effect at once. A bench that cannot be written or an unknown board id is a
// broken test set-up and ends the test run.
class TestBench
{
public:
    explicit TestBench(const QString &directory);

    // Without a cpuId the board gets a deterministic 16-byte one (ZvSim::defaultCpuId).
    void attach(
        const QString &id, int state = ZvSim::Loader, const std::optional<QByteArray> &cpuId = std::nullopt);
    void detach(const QString &id);
    void setState(const QString &id, int state);
    void setOtp(const QString &id, const QByteArray &raw);
    void failCall(const QString &id, const QString &call);
    void setDelay(const QString &id, int milliseconds);
    void setInitializeFails(bool fails);
    void setScanCount(std::optional<int> count);

    QByteArray cpuId(const QString &id) const;

    // Targets: ZvSim::vendorRpmbTarget(area), proofDataTarget(), proofKeyTarget(index).
    // Null when the board never received that target.
    QByteArray written(const QString &id, const QString &target) const;
    QList<QJsonObject> journal() const;
    QList<QJsonObject> journalCalls(const QString &call) const;

    const ZvSim::Bench &bench() const { return model; }

private:
    ZvSim::BenchState load() const;
    void save(const ZvSim::BenchState &state) const;
    template <typename Change> void changeBoard(const QString &id, Change change);

    ZvSim::Bench model;
};
