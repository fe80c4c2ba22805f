#include "loadersupport.h"
#include "pluginjournal.h"
#include "pluginloader.h"
#include "testenvironment.h"
#include "testplugins.h"

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QTest>

#include <memory>

namespace {

// Leaves a mark in the plug-in's static state: its last "PLAINTEXT".
void markThroughTable(const QByteArray &mark)
{
    QByteArray bytes = mark;
    const Buffer_T buffer { reinterpret_cast<uint8_t *>(bytes.data()), static_cast<uint32_t>(bytes.size()) };
    QCOMPARE(pluginEntryTable().addBufferParam(KORVANE_PARAM_PLAINTEXT, buffer), 1);
}

// What the module behind the table encrypts now: shows whose static state it is.
QByteArray encryptThroughTable(qsizetype size)
{
    QByteArray out(size, '\0');
    const Buffer_T buffer { reinterpret_cast<uint8_t *>(out.data()), static_cast<uint32_t>(out.size()) };
    if (pluginEntryTable().doMiddleEncrypt(buffer) != 1)
        return QByteArray();
    return out;
}

} // namespace

class PluginLoaderTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void acceptsCompletePlugin();
    void refusesMissingExport_data();
    void refusesMissingExport();
    void refusesLibraryThatDoesNotLoad_data();
    void refusesLibraryThatDoesNotLoad();
    void reloadKeepsModuleAndItsState();
    void newPathReplacesOldModule();
    void newPathIsLoadedBeforeOldLeaves();

private:
    QString copyOfPlugin(const QString &name) const { return copyOfRecordingPlugin(*environment, name); }
    void acceptFirst(const QString &path);

    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<QLibrary> kept;
};

void PluginLoaderTest::init()
{
    environment = std::make_unique<TestEnvironment>();
    QVERIFY(environment->isValid());
    kept = std::make_unique<QLibrary>();
    pluginEntryTable() = PluginEntryTable();
    qunsetenv("KORVANE_TEST_PROOF_LEVEL");
}

void PluginLoaderTest::cleanup()
{
    if (kept->isLoaded())
        kept->unload();
    kept.reset();
    environment.reset();
    qunsetenv("KORVANE_TEST_PROOF_LEVEL");
}

void PluginLoaderTest::acceptFirst(const QString &path)
{
    const PluginLoadResult result = loadPluginLibrary(path, *kept);
    QVERIFY(result.accepted());
    QVERIFY(kept->isLoaded());
    QVERIFY(isModuleMapped(path));
}

void PluginLoaderTest::acceptsCompletePlugin()
{
    const QString path = copyOfPlugin(QStringLiteral("complete.so"));
    PluginJournal journal(environment->filePath(QStringLiteral("journal.jsonl")));
    qputenv("KORVANE_TEST_PROOF_LEVEL", "5");

    const PluginLoadResult result = loadPluginLibrary(path, *kept);

    QVERIFY(result.accepted());
    QCOMPARE(result.proofLevel, 5);
    QVERIFY(result.logLine.isEmpty());
    QVERIFY(result.missingExport.isEmpty());
    QVERIFY(kept->isLoaded());
    QVERIFY(isModuleMapped(path));
    // Asked once, at load; nothing else is called.
    QCOMPARE(journal.calls(), QStringList { QStringLiteral("getProofLevel") });

    // Every entry is the module's own export.
    const PluginEntryTable &table = pluginEntryTable();
    auto isExport = [&](auto entry, const char *name) {
        return reinterpret_cast<QFunctionPointer>(entry) == kept->resolve(name);
    };
    QVERIFY(isExport(table.getProofLevel, "getProofLevel"));
    QVERIFY(isExport(table.getErrorCode, "getErrorCode"));
    QVERIFY(isExport(table.addUintParam, "addUintParam"));
    QVERIFY(isExport(table.addBoolParam, "addBoolParam"));
    QVERIFY(isExport(table.addBufferParam, "addBufferParam"));
    QVERIFY(isExport(table.addStringParam, "addStringParam"));
    QVERIFY(isExport(table.doBasicEncrypt, "doBasicEncrypt"));
    QVERIFY(isExport(table.doMiddleEncrypt, "doMiddleEncrypt"));
    QVERIFY(isExport(table.doHighEncrypt, "doHighEncrypt"));
}

void PluginLoaderTest::refusesMissingExport_data()
{
    QTest::addColumn<QString>("exportName");
    QTest::addColumn<QString>("path");
    for (const TestPlugins::MissingExportPlugin &plugin : TestPlugins::missingExportPlugins)
        QTest::newRow(plugin.exportName)
            << QString::fromUtf8(plugin.exportName) << QString::fromUtf8(plugin.path);
}

void PluginLoaderTest::refusesMissingExport()
{
    QFETCH(QString, exportName);
    QFETCH(QString, path);

    const QString previous = copyOfPlugin(QStringLiteral("previous.so"));
    acceptFirst(previous);
    markThroughTable("previous state");
    const PluginEntryTable before = pluginEntryTable();

    PluginJournal journal(environment->filePath(QStringLiteral("journal.jsonl")));
    qputenv("KORVANE_TEST_PROOF_LEVEL", "3");
    const PluginLoadResult result = loadPluginLibrary(path, *kept);

    QCOMPARE(result.kind, PluginLoadResult::Kind::MissingExport);
    QCOMPARE(result.missingExport, exportName);
    QCOMPARE(result.logLine, QStringLiteral("Not found %1 in the dll").arg(exportName));
    // getProofLevel is asked as soon as it resolves, before any other export is tried.
    const bool levelAsked = exportName != QLatin1String("getProofLevel");
    QCOMPARE(result.proofLevel, levelAsked ? 3 : 0);
    QCOMPARE(journal.calls(), levelAsked ? QStringList { QStringLiteral("getProofLevel") } : QStringList());

    // The refused probe is released; the previous plug-in still serves, state and all.
    QVERIFY(!isModuleMapped(path));
    QVERIFY(isModuleMapped(previous));
    QVERIFY(kept->isLoaded());
    QCOMPARE(entryTableBytes(pluginEntryTable()), entryTableBytes(before));
    QCOMPARE(encryptThroughTable(14), testPluginOutput("previous state", 14));
}

void PluginLoaderTest::refusesLibraryThatDoesNotLoad_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<bool>("directory");

    QFile plugin(QString::fromUtf8(TestPlugins::recordingPlugin));
    QVERIFY(plugin.open(QIODevice::ReadOnly));
    const QByteArray truncated = plugin.read(256);

    QTest::newRow("text file") << "notes.so" << QByteArray("not a library\n") << false;
    QTest::newRow("truncated library") << "truncated.so" << truncated << false;
    QTest::newRow("empty file") << "empty.so" << QByteArray("") << false;
    QTest::newRow("directory") << "folder.so" << QByteArray() << true;
    QTest::newRow("missing path") << "absent.so" << QByteArray() << false;
}

void PluginLoaderTest::refusesLibraryThatDoesNotLoad()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, directory);

    QString path = environment->filePath(name);
    if (directory)
        QVERIFY(QDir(environment->applicationDirectory()).mkdir(name));
    else if (!content.isNull())
        path = environment->writeFile(name, content);

    const QString previous = copyOfPlugin(QStringLiteral("previous.so"));
    acceptFirst(previous);
    const PluginEntryTable before = pluginEntryTable();

    const PluginLoadResult result = loadPluginLibrary(path, *kept);

    QCOMPARE(result.kind, PluginLoadResult::Kind::LoadFailed);
    QCOMPARE(result.logLine, QStringLiteral("loading dll failed"));
    QCOMPARE(result.proofLevel, 0);
    QVERIFY(result.missingExport.isEmpty());
    QVERIFY(isModuleMapped(previous));
    QVERIFY(kept->isLoaded());
    QCOMPARE(entryTableBytes(pluginEntryTable()), entryTableBytes(before));
}

void PluginLoaderTest::reloadKeepsModuleAndItsState()
{
    const QString path = copyOfPlugin(QStringLiteral("reloaded.so"));
    acceptFirst(path);
    markThroughTable("kept across reloads");

    for (int reload = 1; reload <= 2; ++reload) {
        qputenv("KORVANE_TEST_PROOF_LEVEL", QByteArray::number(reload));
        const PluginLoadResult result = loadPluginLibrary(path, *kept);
        QVERIFY(result.accepted());
        QCOMPARE(result.proofLevel, reload);
        QVERIFY(kept->isLoaded());
        QVERIFY(isModuleMapped(path));
        // Had the module left memory in between, its parameters would be gone.
        QCOMPARE(encryptThroughTable(19), testPluginOutput("kept across reloads", 19));
    }

    // No reference is left behind: unloading the kept library really unloads it.
    QVERIFY(kept->unload());
    QVERIFY(!isModuleMapped(path));
}

void PluginLoaderTest::newPathReplacesOldModule()
{
    const QString oldPath = copyOfPlugin(QStringLiteral("old.so"));
    const QString newPath = copyOfPlugin(QStringLiteral("new.so"));
    acceptFirst(oldPath);
    markThroughTable("old state");

    QVERIFY(loadPluginLibrary(newPath, *kept).accepted());

    QVERIFY(!isModuleMapped(oldPath));
    QVERIFY(isModuleMapped(newPath));
    QVERIFY(kept->isLoaded());
    // The table now reaches the new module, which has no plaintext yet.
    QCOMPARE(encryptThroughTable(4), testPluginOutput(QByteArray(), 4));

    QVERIFY(kept->unload());
    QVERIFY(!isModuleMapped(newPath));
}

// A second spelling of the same file is a new path to QLibrary but the same module to
// the system: the module survives only if the new path is loaded before the old one
// is released.
void PluginLoaderTest::newPathIsLoadedBeforeOldLeaves()
{
    const QString path = copyOfPlugin(QStringLiteral("twice.so"));
    const QString otherSpelling = environment->applicationDirectory() + QStringLiteral("/./twice.so");
    acceptFirst(path);
    markThroughTable("survives the swap");

    QVERIFY(loadPluginLibrary(otherSpelling, *kept).accepted());

    QVERIFY(isModuleMapped(path));
    QCOMPARE(encryptThroughTable(17), testPluginOutput("survives the swap", 17));

    QVERIFY(kept->unload());
    QVERIFY(!isModuleMapped(path));
}

QTEST_GUILESS_MAIN(PluginLoaderTest)
#include "tst_pluginloader.moc"
