#include "logcapture.h"
#include "logmessagehandler.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "testbench.h"
#include "testenvironment.h"
#include "testplugins.h"
#include "translation.h"
#include "windowdriver.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTranslator>

// The main window: widget tree and icon, config.json with the log file, device library,
// close, and translation.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void widgetTree();
    void config_data();
    void config();
    void closeRefusedWhileBusy();
    void translation_data();
    void translation();
};

namespace {

const QByteArray noFile;

} // namespace

void TestMainWindow::initTestCase()
{
    // The form asks Qt to connect slots by name although none matches; that is expected.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.core.qmetaobject.connectslotsbyname=false"));
}

void TestMainWindow::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestMainWindow::widgetTree()
{
    TestEnvironment env;
    MainWindow window;
    const QImage icon = window.windowIcon().pixmap(QSize(128, 128)).toImage();
    QCOMPARE(icon.size(), QSize(128, 128));
    QVERIFY(icon.hasAlphaChannel());

    // What the operator may change: the plug-in's levels only show, a key index is 0 to 3.
    for (const char *name : { "basicCheck", "middleCheck", "highCheck" })
        QVERIFY2(!window.findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
    const auto *spin = window.findChild<QSpinBox *>(QStringLiteral("highKeySpin"));
    QCOMPARE(QList<int>({ spin->value(), spin->minimum(), spin->maximum() }), QList<int>({ 0, 0, 3 }));
    QCOMPARE(window.findChild<QTabWidget *>(QStringLiteral("levelTabWidget"))->currentIndex(), 0);
    // That each button reaches its one slot shows in tst_pluginloader (the file dialogs)
    // and tst_actions (Run).
}

// What a configuration case sets up besides the file, and the log file it leads to.
constexpr int Plain = 0, LogOn = 1, InitializeFails = 2, ReadOnlyDirectory = 4, KeptAsBackup = 8;

void TestMainWindow::config_data()
{
    QTest::addColumn<QByteArray>("initial"); // null: no file
    QTest::addColumn<QString>("chosenPlugin"); // null: dllEdit left as the start set it
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("setup");
    QTest::addColumn<QByteArray>("expected"); // null: the file left exactly as it was (or absent)

    const QByteArray saved("{\n    \"DLL\": \"/p/a.so\"\n}\n");
    const QString chosen = "/p/a.so";
    QTest::newRow("no file") << noFile << QString() << "Korvane " << Plain << noFile;
    QTest::newRow("no file, plug-in chosen")
        << noFile << "/opt/插件/libaes.so"
        << "Korvane " << Plain << QByteArray("{\n    \"DLL\": \"/opt/插件/libaes.so\"\n}\n");
    QTest::newRow("all keys, others kept in Qt's order, initialisation refused")
        << QByteArray(
               R"({"zeta": {"n": 1}, "DLL": "", "LOG": true, "APP_VERSION": "版本 2", "alpha": [1, "two"]})")
        << chosen << "Korvane 版本 2" << (LogOn | InitializeFails)
        << QByteArray(
               "{\n    \"APP_VERSION\": \"版本 2\",\n    \"DLL\": \"/p/a.so\",\n    \"LOG\": true,\n"
               "    \"alpha\": [\n        1,\n        \"two\"\n    ],\n    \"zeta\": {\n        \"n\": 1\n"
               "    }\n}\n");
    // Settings the window could not use are kept beside the file that replaces them.
    QTest::newRow("syntax error replaced, kept")
        << QByteArray(R"({"DLL": "/old.so", "TRACE": true, "STATION": "east", "DUPLICATE_CPUID": "refuse",})")
        << chosen << "Korvane " << KeptAsBackup << saved;
    QTest::newRow("array root replaced, kept") << QByteArray(R"([{"LOG": true, "APP_VERSION": "2"}])")
                                               << chosen << "Korvane " << KeptAsBackup << saved;
    QTest::newRow("path differing in case only")
        << QByteArray(R"({"DLL": "/P/A.so"})") << chosen << "Korvane " << Plain << saved;
    QTest::newRow("missing plug-in cleared")
        << QByteArray(R"({"DLL": "/nowhere/libgone.so", "LOG": false})") << QString() << "Korvane " << Plain
        << QByteArray("{\n    \"DLL\": \"\",\n    \"LOG\": false\n}\n");
    // Unchanged paths leave even a compact or oddly typed file alone.
    QTest::newRow("wrong types") << QByteArray(R"({"LOG": "true", "APP_VERSION": 2, "DLL": 5})") << QString()
                                 << "Korvane " << Plain << noFile;
    // Saving needs a new file beside the old one, which a read-only directory refuses.
    QTest::newRow("save failed") << QByteArray(R"({"DLL": "", "LOG": 1})") << chosen << "Korvane "
                                 << ReadOnlyDirectory << noFile;
}

void TestMainWindow::config()
{
    QFETCH(QByteArray, initial);
    QFETCH(QString, chosenPlugin);
    QFETCH(QString, title);
    QFETCH(int, setup);
    QFETCH(QByteArray, expected);
    const bool log = setup & LogOn;

    TestEnvironment env;
    TestBench bench(env.benchDirectory());
    bench.setInitializeFails(setup & InitializeFails);
    const QString configPath = env.filePath("config.json");
    if (!initial.isNull())
        env.writeFile("config.json", initial);
    const QString directory = env.applicationDirectory();
    const QFileDevice::Permissions permissions = QFile::permissions(directory);
    // Put the permissions back whatever happens, so the temporary directory can go.
    const auto restore = qScopeGuard([&] { QFile::setPermissions(directory, permissions); });
    if (setup & ReadOnlyDirectory) {
        QVERIFY(QDir(directory).mkdir("log"));
        QVERIFY(QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (QFile probe(env.filePath("probe")); probe.open(QIODevice::WriteOnly))
            QSKIP("running with rights that permissions do not bind (e.g. as root)");
        QTest::ignoreMessage(QtDebugMsg, "failed to save config.json");
    }
    if (initial.isNull())
        QTest::ignoreMessage(QtDebugMsg, "failed to open config.json");
    if (setup & KeptAsBackup)
        QTest::ignoreMessage(QtDebugMsg, "kept unreadable config.json as config.json.bak");
    // With the log file on, the start line goes to the log file instead.
    const QByteArray startLine = ('"' + title + "\" ...start").toUtf8();
    if (!log)
        QTest::ignoreMessage(QtDebugMsg, startLine.constData());
    setLogFileDirectory(env.filePath("elsewhere"));
    {
        LogCapture handlers; // the window installs the log file's handler for good
        MainWindow window;
        QCOMPARE(window.windowTitle(), title);
        // The log directory is made at every start, whatever "LOG" says; the handler
        // writes there, the start line and only that.
        QVERIFY(QFileInfo(env.filePath("log")).isDir());
        QCOMPARE(env.logFile().mid(12), log ? " [Debug] " + startLine + '\n' : QByteArray());
        QVERIFY(bench.journalCalls("ZV_Uninitialize").isEmpty());
        window.show();
        if (!chosenPlugin.isNull())
            window.findChild<QLineEdit *>(QStringLiteral("dllEdit"))->setText(chosenPlugin);
        // A failed save does not keep the window open.
        QVERIFY(window.close());
    }

    // Every file given is compact and a save indents: a rewrite shows.
    QCOMPARE(readFile(configPath), expected.isNull() ? initial : expected);
    QStringList files;
    if (!expected.isNull() || !initial.isNull())
        files << "config.json";
    if (setup & KeptAsBackup) {
        files << "config.json.bak";
        QCOMPARE(readFile(configPath + ".bak"), initial);
    }
    // The save leaves no temporary file behind.
    QCOMPARE(QDir(directory).entryList({ "config.json*" }, QDir::Files), files);

    // The device library: initialised first, released last and only if it had accepted.
    const QList<QJsonObject> journal = bench.journal();
    QVERIFY(!journal.isEmpty());
    QCOMPARE(journal.first().value("call").toString(), QStringLiteral("ZV_InitializeW"));
    QCOMPARE(bench.journalCalls("ZV_InitializeW").size(), 1);
    const QJsonObject args = journal.first().value("args").toObject();
    QCOMPARE(args.value("settings").toArray(), (QJsonArray { 0, 0, 0, 0, 0, 0, 10, 30, 0 }));
    QCOMPARE(args.value("logEnabled").toInt(), log ? 1 : 0);
    QCOMPARE(
        args.value("logDirectory"), log ? QJsonValue(directory + QDir::separator() + "log") : QJsonValue());
    QCOMPARE(args.value("extra").toString(), QString(32, '0'));
    const bool released = !(setup & InitializeFails);
    QCOMPARE(bench.journalCalls("ZV_Uninitialize").size(), released ? 1 : 0);
    QCOMPARE(journal.last().value("call").toString() == "ZV_Uninitialize", released);
}

// The running flag refuses the close with nothing else set; the worker alone does in
// tst_actions, whose close comes between a real launch and its thread's start.
void TestMainWindow::closeRefusedWhileBusy()
{
    TestEnvironment env;
    const QString plugin = QString::fromUtf8(TestPlugins::recordingPlugin);
    const QByteArray initial = R"({"DLL": ")" + plugin.toUtf8() + R"("})";
    const QString configPath = env.writeFile(QStringLiteral("config.json"), initial);
    WindowDriver driver;
    driver.open();
    MainWindow &window = *driver.window();
    const QLibrary &library = MainWindowTestAccess::library(window);
    QVERIFY(library.isLoaded());
    driver.widget<QLineEdit>("dllEdit")->setText(QStringLiteral("/p/new.so"));
    MainWindowTestAccess::setActionRunning(window, 1);
    QVERIFY(!window.close());
    QCOMPARE(driver.nextBox(QMessageBox::Warning), QStringLiteral("Action is still running,stop quit!"));
    QVERIFY(window.isVisible());
    QVERIFY(library.isLoaded());
    QCOMPARE(readFile(configPath), initial);

    // Once idle the close goes through.
    MainWindowTestAccess::setActionRunning(window, 0);
    QVERIFY(window.close());
    QCOMPARE(driver.observer().messageBoxes().size(), 1);
    QVERIFY(!library.isLoaded());
}

void TestMainWindow::translation_data()
{
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<bool>("loads");

    QTest::newRow("English first, then Chinese") << QStringList { "en-US", "zh-CN" } << true;
    QTest::newRow("script subtag") << QStringList { "zh-Hans-CN" } << true;
    QTest::newRow("traditional Chinese alone") << QStringList { "zh-TW" } << false;
    QTest::newRow("empty list") << QStringList() << false;
}

void TestMainWindow::translation()
{
    QFETCH(QStringList, languages);
    QFETCH(bool, loads);

    TestEnvironment env;
    env.writeFile(QStringLiteral("config.json"), R"({"APP_VERSION": "1.0.0"})");
    QTranslator translator;
    QTranslator qtTranslator;
    QCOMPARE(installTranslationsFor(translator, qtTranslator, languages), loads);
    QCOMPARE(translator.language(), loads ? QStringLiteral("zh_CN") : QString());
    if (loads) {
        QCOMPARE(translator.translate("MainWindow", "Failed to load %1!").arg("x.so"), "加载x.so失败!");
        // The Run checks read the status label back: no translation may hold its texts.
        for (const char *status :
            { "One Maskrom device", "One Loader device", "One invalid device", "Many devices" })
            QVERIFY2(translator.translate("MainWindow", status).isEmpty(), status);
    }
    MainWindow window;
    // Qt's own texts follow the window's language: the result boxes' button.
    const QMessageBox box(QMessageBox::Information, QString(), QString(), QMessageBox::Ok);
    const QString okText = box.button(QMessageBox::Ok)->text();
    QCoreApplication::removeTranslator(&qtTranslator);
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(okText, loads ? QStringLiteral("确定") : QStringLiteral("OK"));
    // The name is translated, the version is not: the form's title comes from its context.
    QCOMPARE(
        window.windowTitle(), loads ? QStringLiteral("科尔瓦内 1.0.0") : QStringLiteral("Korvane 1.0.0"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
