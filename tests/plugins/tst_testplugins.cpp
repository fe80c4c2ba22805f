#include "loadedplugin.h"
#include "pluginjournal.h"
#include "testenvironment.h"
#include "testplugin.h"
#include "testplugins.h"

#include <QtTest>

#include <iterator>

// The test plug-ins are fixtures for the loader and action tests: if they misbehave,
// those tests pass or fail for the wrong reason.
class TestPluginsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void proofLevelFromEnvironment_data();
    void proofLevelFromEnvironment();
    void journalRecordsEveryCallAndTheOutput();
    void encryptFailsOnRequest_data();
    void encryptFailsOnRequest();
    void refusesNullArguments();
    void eachMissingExportPluginLacksExactlyItsExport();

private:
    QByteArray bytes(int count, int first) const;
};

void TestPluginsTest::init()
{
    qunsetenv("KORVANE_TEST_PROOF_LEVEL");
    qunsetenv("KORVANE_TEST_FAIL_ENCRYPT");
}

void TestPluginsTest::cleanup()
{
    init();
}

QByteArray TestPluginsTest::bytes(int count, int first) const
{
    QByteArray result;
    for (int i = 0; i < count; ++i)
        result.append(char(first + i * 7));
    return result;
}

void TestPluginsTest::proofLevelFromEnvironment_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<int>("expected");

    QTest::newRow("unset") << QByteArray() << KORVANE_TEST_PLUGIN_DEFAULT_LEVEL;
    QTest::newRow("empty") << QByteArray("") << KORVANE_TEST_PLUGIN_DEFAULT_LEVEL;
    QTest::newRow("zero") << QByteArray("0") << 0;
    QTest::newRow("high bits") << QByteArray("0xfffffff8") << int(0xfffffff8u);
    QTest::newRow("all bits") << QByteArray("-1") << -1;
    QTest::newRow("not a number") << QByteArray("seven") << KORVANE_TEST_PLUGIN_DEFAULT_LEVEL;
    QTest::newRow("trailing junk") << QByteArray("3x") << KORVANE_TEST_PLUGIN_DEFAULT_LEVEL;
}

void TestPluginsTest::proofLevelFromEnvironment()
{
    QFETCH(QByteArray, setting);
    QFETCH(int, expected);
    TestEnvironment environment;
    PluginJournal journal(environment.filePath("journal.jsonl"));
    LoadedPlugin plugin(TestPlugins::recordingPlugin);
    QVERIFY2(plugin.isComplete(), qPrintable(plugin.library.errorString()));

    if (!setting.isNull())
        qputenv("KORVANE_TEST_PROOF_LEVEL", setting);
    QCOMPARE(plugin.getProofLevel(), expected);

    // Read at each call, not once at load.
    qputenv("KORVANE_TEST_PROOF_LEVEL", "1");
    QCOMPARE(plugin.getProofLevel(), 1);

    const QList<PluginJournalEntry> entries = journal.entries();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).call, QStringLiteral("getProofLevel"));
    QCOMPARE(entries.at(0).result, qint64(expected));
}

void TestPluginsTest::journalRecordsEveryCallAndTheOutput()
{
    TestEnvironment environment;
    PluginJournal journal(environment.filePath("journal.jsonl"));
    LoadedPlugin plugin(TestPlugins::recordingPlugin);
    QVERIFY2(plugin.isComplete(), qPrintable(plugin.library.errorString()));

    const QByteArray cpuId = bytes(9, 0x31);
    QByteArray callerBuffer = cpuId;
    QCOMPARE(plugin.addBuffer(QStringLiteral("PLAINTEXT"), callerBuffer), 1);
    // The host reuses its buffer at once; the plug-in must have copied it.
    callerBuffer.fill('\xff');
    QByteArray key = bytes(32, 0x80);
    QCOMPARE(plugin.addBuffer(QStringLiteral("AESKEY"), key), 1);

    QByteArray basicOut(16, '\0');
    QCOMPARE(plugin.doBasicEncrypt(LoadedPlugin::view(basicOut)), 1);
    QCOMPARE(basicOut, testPluginOutput(cpuId, 16));
    QCOMPARE(plugin.getErrorCode(), KORVANE_TEST_PLUGIN_OK);

    QCOMPARE(plugin.addUintParam(LoadedPlugin::utf16(QStringLiteral("COUNT")), 4000000000u), 1);
    QCOMPARE(plugin.addBoolParam(LoadedPlugin::utf16(QStringLiteral("FLAG")), 1), 1);
    // Quotes, backslashes and non-ASCII survive the journal's escaping.
    const QString awkward = QStringLiteral("a\"b\\c \u00e9\u4e2d");
    QCOMPARE(
        plugin.addStringParam(LoadedPlugin::utf16(awkward), LoadedPlugin::utf16(QStringLiteral("v"))), 1);

    QByteArray data = bytes(100, 3);
    QCOMPARE(plugin.addBuffer(QStringLiteral("PLAINTEXT"), data), 1);
    QByteArray middleOut(100, '\x5a');
    QCOMPARE(plugin.doMiddleEncrypt(LoadedPlugin::view(middleOut)), 1);
    QCOMPARE(middleOut, testPluginOutput(data, 100));

    // Past the plaintext the output is the mask alone.
    QByteArray shortPlain = bytes(3, 1);
    QCOMPARE(plugin.addBuffer(QStringLiteral("PLAINTEXT"), shortPlain), 1);
    QByteArray highOut(8, '\0');
    QCOMPARE(plugin.doHighEncrypt(LoadedPlugin::view(highOut)), 1);
    QCOMPARE(highOut.mid(3), QByteArray(5, char(KORVANE_TEST_PLUGIN_MASK)));

    bool ok = false;
    const QList<PluginJournalEntry> entries = journal.entries(&ok);
    QVERIFY(ok);
    const QStringList expectedCalls { "addBufferParam", "addBufferParam", "doBasicEncrypt", "getErrorCode",
        "addUintParam", "addBoolParam", "addStringParam", "addBufferParam", "doMiddleEncrypt",
        "addBufferParam", "doHighEncrypt" };
    QCOMPARE(journal.calls(), expectedCalls);

    QCOMPARE(entries.at(0).name, QStringLiteral("PLAINTEXT"));
    QCOMPARE(entries.at(0).size, qint64(cpuId.size()));
    QCOMPARE(entries.at(0).data, cpuId);
    QCOMPARE(entries.at(1).name, QStringLiteral("AESKEY"));
    QCOMPARE(entries.at(1).data, key);
    QCOMPARE(entries.at(2).size, qint64(16));
    QCOMPARE(entries.at(2).data, basicOut);
    QCOMPARE(entries.at(2).result, qint64(1));
    QCOMPARE(entries.at(4).name, QStringLiteral("COUNT"));
    QCOMPARE(entries.at(4).value.toInteger(), qint64(4000000000u));
    QCOMPARE(entries.at(5).value.toInteger(), qint64(1));
    QCOMPARE(entries.at(6).name, awkward);
    QCOMPARE(entries.at(6).value.toString(), QStringLiteral("v"));
    QCOMPARE(entries.at(8).size, qint64(100));
    QCOMPARE(entries.at(8).data, middleOut);

    QVERIFY(journal.clear());
    QVERIFY(journal.entries().isEmpty());
}

void TestPluginsTest::encryptFailsOnRequest_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<bool>("basicOk");
    QTest::addColumn<bool>("middleOk");
    QTest::addColumn<bool>("highOk");

    QTest::newRow("unset") << QByteArray() << true << true << true;
    QTest::newRow("basic") << QByteArray("basic") << false << true << true;
    QTest::newRow("middle") << QByteArray("middle") << true << false << true;
    QTest::newRow("high") << QByteArray("high") << true << true << false;
    QTest::newRow("all") << QByteArray("all") << false << false << false;
    QTest::newRow("unknown word") << QByteArray("Basic") << true << true << true;
}

void TestPluginsTest::encryptFailsOnRequest()
{
    QFETCH(QByteArray, setting);
    QFETCH(bool, basicOk);
    QFETCH(bool, middleOk);
    QFETCH(bool, highOk);
    TestEnvironment environment;
    PluginJournal journal(environment.filePath("journal.jsonl"));
    LoadedPlugin plugin(TestPlugins::recordingPlugin);
    QVERIFY2(plugin.isComplete(), qPrintable(plugin.library.errorString()));
    if (!setting.isNull())
        qputenv("KORVANE_TEST_FAIL_ENCRYPT", setting);

    QByteArray out(16, '\0');
    const struct
    {
        korvane_doBasicEncrypt_fn encrypt;
        bool ok;
    } cases[] = { { plugin.doBasicEncrypt, basicOk }, { plugin.doMiddleEncrypt, middleOk },
        { plugin.doHighEncrypt, highOk } };
    QList<qint64> expectedResults;
    for (const auto &call : cases) {
        QCOMPARE(call.encrypt(LoadedPlugin::view(out)) != 0, call.ok);
        QCOMPARE(
            plugin.getErrorCode(), call.ok ? KORVANE_TEST_PLUGIN_OK : KORVANE_TEST_PLUGIN_FAILED_ON_REQUEST);
        expectedResults << (call.ok ? 1 : 0);
    }

    QList<qint64> journalResults;
    for (const PluginJournalEntry &entry : journal.entries())
        if (entry.call.startsWith(QLatin1String("do")))
            journalResults << entry.result;
    QCOMPARE(journalResults, expectedResults);
}

void TestPluginsTest::refusesNullArguments()
{
    LoadedPlugin plugin(TestPlugins::recordingPlugin);
    QVERIFY2(plugin.isComplete(), qPrintable(plugin.library.errorString()));

    QByteArray data = bytes(4, 1);
    QCOMPARE(plugin.addBufferParam(nullptr, LoadedPlugin::view(data)), 0);
    QCOMPARE(plugin.getErrorCode(), KORVANE_TEST_PLUGIN_BAD_ARGUMENT);
    QCOMPARE(plugin.addBufferParam(KORVANE_PARAM_PLAINTEXT, Buffer_T { nullptr, 4 }), 0);
    QCOMPARE(plugin.getErrorCode(), KORVANE_TEST_PLUGIN_BAD_ARGUMENT);
    QCOMPARE(plugin.doMiddleEncrypt(Buffer_T { nullptr, 4 }), 0);
    QCOMPARE(plugin.getErrorCode(), KORVANE_TEST_PLUGIN_BAD_ARGUMENT);

    // An empty plaintext with no bytes behind it is legal: the host sends one for an empty file.
    QCOMPARE(plugin.addBufferParam(KORVANE_PARAM_PLAINTEXT, Buffer_T { nullptr, 0 }), 1);
    QCOMPARE(plugin.doMiddleEncrypt(Buffer_T { nullptr, 0 }), 1);
    QCOMPARE(plugin.getErrorCode(), KORVANE_TEST_PLUGIN_OK);
}

void TestPluginsTest::eachMissingExportPluginLacksExactlyItsExport()
{
    const char *const exports[] = KORVANE_PLUGIN_EXPORT_NAMES;
    QCOMPARE(std::size(TestPlugins::missingExportPlugins), std::size(exports));
    for (size_t i = 0; i < std::size(exports); ++i) {
        const TestPlugins::MissingExportPlugin &plugin = TestPlugins::missingExportPlugins[i];
        // Listed in resolution order, so loader tests can walk them in step.
        QCOMPARE(plugin.exportName, exports[i]);
        QLibrary library(QString::fromUtf8(plugin.path));
        QVERIFY2(library.load(), qPrintable(library.errorString()));
        for (const char *name : exports) {
            const bool present = library.resolve(name) != nullptr;
            QVERIFY2(present == (qstrcmp(name, plugin.exportName) != 0),
                qPrintable(QStringLiteral("%1 in %2").arg(name, plugin.path)));
        }
        library.unload();
    }
}

QTEST_GUILESS_MAIN(TestPluginsTest)
#include "tst_testplugins.moc"
