#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "pluginentries.h"
#include "pluginjournal.h"
#include "pluginloader.h"
#include "testenvironment.h"
#include "testplugins.h"
#include "threadworker.h"
#include "windowdriver.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

#ifdef Q_OS_WIN
const QStringList pluginFilters { "dll files (*.dll)", "All files (*)" };
#else
const QStringList pluginFilters { "shared libraries (*.so)", "All files (*)" };
#endif
const QStringList dataFilters { "bin files (*.bin)", "text files (*.txt)", "All files (*)" };

// Asked of the system, not of QLibrary, whose own bookkeeping is under test.
bool isModuleMapped(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
#ifdef Q_OS_WIN
    return GetModuleHandleW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(canonical).utf16()))
        != nullptr;
#else
    QFile maps("/proc/self/maps");
    if (!maps.open(QIODevice::ReadOnly))
        qFatal("cannot read /proc/self/maps");
    return maps.readAll().contains(' ' + QFile::encodeName(canonical) + '\n');
#endif
}

QByteArray tableBytes()
{
    return QByteArray(reinterpret_cast<const char *>(&pluginEntryTable()), sizeof(PluginEntryTable));
}

// Leaves a mark in the plug-in's static state: its last "PLAINTEXT".
void markThroughTable(QByteArray mark)
{
    const Buffer_T buffer { reinterpret_cast<uint8_t *>(mark.data()), static_cast<uint32_t>(mark.size()) };
    QCOMPARE(pluginEntryTable().addBufferParam(KORVANE_PARAM_PLAINTEXT, buffer), 1);
}

// What the module behind the table encrypts now: shows whose static state it is.
QByteArray encryptThroughTable(qsizetype size)
{
    QByteArray out(size, '\0');
    const Buffer_T buffer { reinterpret_cast<uint8_t *>(out.data()), static_cast<uint32_t>(out.size()) };
    return pluginEntryTable().doMiddleEncrypt(buffer) == 1 ? out : QByteArray();
}

// The three level boxes as "BMH", with "-" for each one cleared.
QString levelBoxes(const WindowDriver &driver)
{
    QString boxes;
    for (const char *name : { "B basicCheck", "M middleCheck", "H highCheck" })
        boxes += driver.widget<QCheckBox>(name + 2)->isChecked() ? name[0] : '-';
    return boxes;
}

} // namespace

class PluginLoaderTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void moduleLifetime();
    void refusals_data();
    void refusals();
    void levels_data();
    void levels();
    void dialogs_data();
    void dialogs();

private:
    // A copy, by default of the recording plug-in: a module distinct from every other test's.
    QString copyOf(
        const QString &name, const QString &source = QString::fromUtf8(TestPlugins::recordingPlugin)) const;

    std::unique_ptr<TestEnvironment> env;
};

void PluginLoaderTest::init()
{
    env = std::make_unique<TestEnvironment>();
    pluginEntryTable() = PluginEntryTable();
    qunsetenv("KORVANE_TEST_PROOF_LEVEL");
}

void PluginLoaderTest::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    env.reset();
}

QString PluginLoaderTest::copyOf(const QString &name, const QString &source) const
{
    const QString path = env->filePath(name);
    return QFile::copy(source, path) ? path : QString();
}

void PluginLoaderTest::moduleLifetime()
{
    const QString path = copyOf("first.so");
    const QString newPath = copyOf("second.so");
    PluginJournal journal(env->filePath("journal.jsonl"));
    QLibrary kept;
    qputenv("KORVANE_TEST_PROOF_LEVEL", "5");
    const PluginLoadResult result = loadPluginLibrary(path, kept);
    QVERIFY(result.accepted());
    QCOMPARE(result.proofLevel, 5);
    // Asked once, at load; and every entry is the module's own export.
    QCOMPARE(journal.calls(), QStringList { "getProofLevel" });
    QByteArray exports;
    for (const char *name : KORVANE_PLUGIN_EXPORT_NAMES) {
        const QFunctionPointer entry = kept.resolve(name);
        exports.append(reinterpret_cast<const char *>(&entry), sizeof entry);
    }
    QCOMPARE(tableBytes(), exports);
    markThroughTable("kept across reloads");

    // The same path twice, then another spelling of it (a new path to QLibrary, the same
    // module to the system): had the module left memory, its parameters would be gone.
    const QString paths[] = { path, path, env->applicationDirectory() + "/./first.so" };
    for (int level = 0; level < 3; ++level) {
        qputenv("KORVANE_TEST_PROOF_LEVEL", QByteArray::number(level));
        QCOMPARE(loadPluginLibrary(paths[level], kept).proofLevel, level);
        QVERIFY(kept.isLoaded());
        QVERIFY(isModuleMapped(path));
        QCOMPARE(encryptThroughTable(19), testPluginOutput("kept across reloads", 19));
    }

    // A new module replaces it, and no reference to the old is left behind.
    QVERIFY(loadPluginLibrary(newPath, kept).accepted());
    QVERIFY(!isModuleMapped(path));
    QVERIFY(isModuleMapped(newPath));
    QCOMPARE(encryptThroughTable(4), testPluginOutput(QByteArray(), 4));
    QVERIFY(kept.unload());
    QVERIFY(!isModuleMapped(newPath));
}

void PluginLoaderTest::refusals_data()
{
    QTest::addColumn<QString>("path"); // empty: a text file dressed as a library
    QTest::addColumn<QString>("missingExport");

    QTest::newRow("not a library") << QString() << QString();
    for (const TestPlugins::MissingExportPlugin &missing : TestPlugins::missingExportPlugins)
        QTest::newRow(missing.exportName) << missing.path << missing.exportName;
}

void PluginLoaderTest::refusals()
{
    QFETCH(QString, path);
    QFETCH(QString, missingExport);
    // Chosen from the test's own folder: under Wine the build folder sits on Z:, the whole
    // Linux tree, which the file dialog takes too long to look through.
    path = path.isEmpty() ? env->writeFile("notes.so", "not a library\n")
                          : copyOf(QFileInfo(path).fileName(), path);
    const bool loads = !missingExport.isEmpty();
    const QString logLine = loads ? "Not found " + missingExport + " in the dll" : "loading dll failed";

    // Configured for start-up: refused before the window shows, nothing taken from it.
    env->writeFile("config.json", R"({"DLL": ")" + path.toUtf8() + R"("})");
    WindowDriver driver;
    MessageBoxObserver &observer = driver.observer();
    QList<bool> windowShown;
    observer.setOnMessageBox(
        [&](QMessageBox *box) { windowShown << (box->parentWidget() && box->parentWidget()->isVisible()); });
    QTest::ignoreMessage(QtDebugMsg, qPrintable(logLine));
    driver.open();
    QCOMPARE(windowShown, QList<bool> { false });
    QVERIFY(driver.widget<QLineEdit>("dllEdit")->text().isEmpty());
    QCOMPARE(levelBoxes(driver), QStringLiteral("---"));
    QVERIFY(!MainWindowTestAccess::library(*driver.window()).isLoaded());
    QCOMPARE(tableBytes(), QByteArray(sizeof(PluginEntryTable), '\0'));

    // Chosen after an accepted plug-in: refused, and the accepted one still serves.
    const QString current = copyOf("current.so");
    qputenv("KORVANE_TEST_PROOF_LEVEL", "5");
    observer.queueFileDialogAnswer(current);
    driver.widget<QPushButton>("dllButton")->click();
    markThroughTable("previous state");
    const QByteArray before = tableBytes();
    // A refused plug-in that gets as far as its level must not show it either.
    qputenv("KORVANE_TEST_PROOF_LEVEL", "2");
    QTest::ignoreMessage(QtDebugMsg, qPrintable(logLine));
    observer.queueFileDialogAnswer(path);
    driver.widget<QPushButton>("dllButton")->click();

    const QString refusal = (loads ? QStringLiteral("%1 is invalid!") : QStringLiteral("Failed to load %1!")).arg(path);
    QCOMPARE(driver.nextBox(QMessageBox::Critical), refusal);
    QCOMPARE(driver.nextBox(QMessageBox::Critical), refusal);
    QCOMPARE(observer.messageBoxes().size(), 2);
    QCOMPARE(driver.widget<QLineEdit>("dllEdit")->text(), current);
    QCOMPARE(levelBoxes(driver), QStringLiteral("B-H"));
    QCOMPARE(tableBytes(), before);
    QVERIFY(isModuleMapped(current));
    QVERIFY(!isModuleMapped(path));
    QCOMPARE(encryptThroughTable(14), testPluginOutput("previous state", 14));
}

void PluginLoaderTest::levels_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<bool>("afterAll"); // else after a plug-in of level 0
    QTest::addColumn<QString>("boxes");

    QTest::newRow("basic") << "1" << true << "B--";
    QTest::newRow("middle") << "2" << true << "-M-";
    QTest::newRow("high") << "4" << true << "--H";
    QTest::newRow("high bits only") << "0x18" << true << "---";
    QTest::newRow("every bit") << "-1" << false << "BMH";
}

void PluginLoaderTest::levels()
{
    QFETCH(QString, level);
    QFETCH(bool, afterAll);
    QFETCH(QString, boxes);

    const QString first = copyOf("first.so");
    const QString second = copyOf("second.so");
    env->writeFile("config.json", R"({"DLL": ")" + first.toUtf8() + R"("})");
    qputenv("KORVANE_TEST_PROOF_LEVEL", afterAll ? "7" : "0");
    WindowDriver driver;
    driver.open();
    MessageBoxObserver &observer = driver.observer();
    QVERIFY(isModuleMapped(first));
    QCOMPARE(levelBoxes(driver), afterAll ? "BMH" : "---");

    // In the gap between a launch and the busy state, the worker alone blocks the loader.
    qputenv("KORVANE_TEST_PROOF_LEVEL", level.toLatin1());
    observer.queueFileDialogAnswer(second);
    ThreadWorker launched;
    MainWindowTestAccess::setWorker(*driver.window(), &launched);
    auto *browse = driver.widget<QPushButton>("dllButton");
    browse->click();
    QVERIFY(observer.fileDialogs().isEmpty());
    MainWindowTestAccess::setWorker(*driver.window(), nullptr);

    browse->click();
    QCOMPARE(observer.fileDialogs().size(), 1);
    QVERIFY(observer.messageBoxes().isEmpty());
    QCOMPARE(driver.widget<QLineEdit>("dllEdit")->text(), second);
    QCOMPARE(levelBoxes(driver), boxes);
    // The window's session lets the old module go.
    QVERIFY(!isModuleMapped(first));
    QVERIFY(isModuleMapped(second));
}

void PluginLoaderTest::dialogs_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QStringList>("filters");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("readOnly");

    QTest::newRow("plug-in") << "dllEdit" << pluginFilters << "Select a Dll" << true;
    QTest::newRow("basic key") << "basicKeyEdit" << dataFilters << "Select a Key" << false;
    QTest::newRow("middle plain") << "middlePlainEdit" << dataFilters << "Select a Plain" << true;
    QTest::newRow("high key") << "highKeyEdit" << dataFilters << "Select a Key" << false;
}

void PluginLoaderTest::dialogs()
{
    QFETCH(QString, edit);
    QFETCH(QStringList, filters);
    QFETCH(QString, title);
    QFETCH(bool, readOnly);

    const bool plugin = edit == "dllEdit";
    const QString chosen = plugin ? copyOf("chosen plug-in (1).so")
                                  : env->writeFile("chosen key (1).bin", QByteArray(32, 'k'));
    WindowDriver driver;
    driver.open();
    MessageBoxObserver &observer = driver.observer();
    QLineEdit *target = driver.widget<QLineEdit>(qPrintable(edit));
    QPushButton *button = driver.widget<QPushButton>(qPrintable(QString(edit).replace("Edit", "Button")));
    QCOMPARE(target->isReadOnly(), readOnly);
    const QString earlier = "C:/an earlier, much longer path typed by hand/key.bin";
    target->setText(earlier);

    observer.queueFileDialogAnswer(QString());
    observer.queueFileDialogAnswer(chosen);
    button->click();
    QCOMPARE(target->text(), earlier);
    QCOMPARE(tableBytes(), QByteArray(sizeof(PluginEntryTable), '\0'));
    button->click();
    QCOMPARE(target->text(), chosen);

    QCOMPARE(observer.fileDialogs().size(), 2);
    for (const ObservedFileDialog &dialog : observer.fileDialogs()) {
        QCOMPARE(dialog.title, title);
        QCOMPARE(dialog.nameFilters, filters);
        QCOMPARE(dialog.parent, driver.window());
    }
    // Choosing a file is no error; only the plug-in's dialog reaches the plug-in side.
    QVERIFY(observer.messageBoxes().isEmpty());
    QCOMPARE(levelBoxes(driver), plugin ? "BMH" : "---");
}

QTEST_MAIN(PluginLoaderTest)
#include "tst_pluginloader.moc"
