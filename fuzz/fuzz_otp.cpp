// Arbitrary OTP content, returned by the simulated device library, through the Basic
// procedure with the recording plug-in. A count byte from 1 to 17 must lead to the
// encrypted id of count - 1 bytes on the board; any other count to exit code -3 and no
// write at all.

#include "fuzzrequire.h"
#include "pluginjournal.h"
#include "pluginloader.h"
#include "testbench.h"
#include "testenvironment.h"
#include "testplugins.h"
#include "threadworker.h"

#include "ZVUpgrade_DLL.h"

#include <QLibrary>

#include <cstdint>
#include <memory>

namespace {

const QString boardId = QStringLiteral("b1");

std::unique_ptr<TestEnvironment> environment;
std::unique_ptr<TestBench> bench;

// The procedure logs every step; millions of runs would drown the fuzzer's own output.
void silence(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(silence);
    environment = std::make_unique<TestEnvironment>();
    require(environment->isValid(), "no temporary directory");
    bench = std::make_unique<TestBench>(environment->benchDirectory());
    static QLibrary plugin;
    require(loadPluginLibrary(QString::fromUtf8(TestPlugins::recordingPlugin), plugin).accepted(),
        "the recording plug-in was refused");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The library never hands out more than the 17 bytes asked for; a little more
    // input shows that it does not.
    const QByteArray otp(reinterpret_cast<const char *>(data), static_cast<qsizetype>(std::min<size_t>(size, 32)));
    QString error;
    require(bench->bench().reset(&error), "cannot reset the bench");
    bench->attach(boardId, ZvSim::Loader);
    bench->setOtp(boardId, otp);

    ThreadWorker worker;
    worker.setAction(RUN_ACTION_BASIC);
    worker.process();

    // What the tool's zeroed 17-byte buffer holds after the read.
    QByteArray buffer(ZV_OTP_LENGTH, '\0');
    buffer.replace(0, std::min<qsizetype>(otp.size(), ZV_OTP_LENGTH), otp.left(ZV_OTP_LENGTH));
    const int count = static_cast<int8_t>(buffer.at(0));
    const QByteArray written = bench->written(boardId, ZvSim::vendorRpmbTarget(ZV_RPMB_VENDOR_CPUID));
    if (count < 1 || count > ZV_OTP_LENGTH) {
        require(worker.getExitCode() == -3, "an invalid count did not fail with -3");
        require(written.isNull(), "an invalid count reached the board");
        return 0;
    }
    const QByteArray cpuId = buffer.mid(1, count - 1);
    require(worker.getExitCode() == 0, "a valid count failed");
    require(written == testPluginOutput(cpuId, 16).left(cpuId.size()), "the board received other bytes");
    return 0;
}
