// Action overhead: what one action costs the tool itself. With a zero-delay simulated
// bench and the recording plug-in, each level runs 200 times from the Run click until
// the window is idle again, its result box closed at once. The device library and
// plug-in calls of that level are then timed alone, 200 times, in the same process on
// the same bench; the tool's own time is the difference of the two medians.

#include "median.h"
#include "pluginentries.h"
#include "windowbench.h"

#include "ZVUpgrade_DLL.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <functional>

namespace {

constexpr int actions = 200;

double medianMilliseconds(const std::function<void()> &work)
{
    std::vector<double> times;
    QElapsedTimer clock;
    for (int i = 0; i < actions; ++i) {
        clock.start();
        work();
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    return median(times);
}

// The calls an action of each level makes into the library and the plug-in, as it makes them.
void libraryAndPluginCalls(WindowBench::Level level)
{
    const PluginEntryTable &plugin = pluginEntryTable();
    uint8_t otp[ZV_OTP_LENGTH] = {};
    uint8_t output[16] = {};
    static uint8_t data[1024] = {};
    static uint8_t encrypted[1024] = {};
    switch (level) {
    case WindowBench::Basic:
        ZV_ReadOtpData(otp, ZV_OTP_LENGTH, 0, 0);
        plugin.addBufferParam(KORVANE_PARAM_PLAINTEXT, Buffer_T { otp + 1, 16 });
        plugin.addBufferParam(KORVANE_PARAM_AESKEY, Buffer_T { data, 32 });
        plugin.doBasicEncrypt(Buffer_T { output, sizeof output });
        ZV_WriteVendorRpmbData(ZV_RPMB_VENDOR_CPUID, 0, output, 16, 0);
        break;
    case WindowBench::Middle:
        plugin.addBufferParam(KORVANE_PARAM_PLAINTEXT, Buffer_T { data, sizeof data });
        plugin.doMiddleEncrypt(Buffer_T { encrypted, sizeof encrypted });
        ZV_WriteProofData(encrypted, sizeof encrypted, 0);
        break;
    case WindowBench::High:
        ZV_WriteProofKey(data, 32, 1, 0);
        break;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    WindowBench bench;
    if (!bench.isValid())
        return 1;

    double worst = 0;
    // Where the time goes: up to the result box showing, and the box itself.
    QElapsedTimer clock;
    qint64 boxShownAt = 0;
    bench.setOnResultBox([&] { boxShownAt = clock.nsecsElapsed(); });
    for (const WindowBench::Level level : WindowBench::levels) {
        std::vector<double> wholeTimes, untilBoxTimes;
        for (int i = 0; i < actions; ++i) {
            clock.start();
            if (bench.runAction(level) != QStringLiteral("Action ok.")) {
                std::fprintf(stderr, "a %s action failed\n", WindowBench::levelName(level));
                return 1;
            }
            wholeTimes.push_back(clock.nsecsElapsed() / 1e6);
            untilBoxTimes.push_back(boxShownAt / 1e6);
        }
        const double whole = median(wholeTimes);
        const double untilBox = median(untilBoxTimes);
        const double calls = medianMilliseconds([&] { libraryAndPluginCalls(level); });
        const double own = whole - calls;
        std::printf("%-6s action, median of %d: %.3f ms in all (%.3f ms until the result box shows), %.3f ms in "
                    "library and plug-in, %.3f ms the tool's own\n",
            WindowBench::levelName(level), actions, whole, untilBox, calls, own);
        worst = std::max(worst, own);
    }
    std::printf("tool's own time per action, worst level: %.3f ms (goal: under 1 ms)\n", worst);
    return 0;
}
