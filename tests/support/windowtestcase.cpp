#include "windowtestcase.h"

#include <QTest>

void WindowTestCase::init()
{
    env = std::make_unique<TestEnvironment>();
    QVERIFY(env->isValid());
    bench = std::make_unique<TestBench>(env->benchDirectory());
    pluginJournal = std::make_unique<PluginJournal>(env->filePath(QStringLiteral("plugin.jsonl")));
    driver = std::make_unique<WindowDriver>();
}

void WindowTestCase::cleanup()
{
    QVERIFY(driver->close());
    driver.reset();
    pluginJournal.reset(); // each puts its environment variable back
    bench.reset();
    env.reset();
    qunsetenv("KORVANE_TEST_PROOF_LEVEL");
    qunsetenv("KORVANE_TEST_FAIL_ENCRYPT");
}
