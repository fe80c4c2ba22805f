#include "apppaths.h"
#include "logmessagehandler.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "testenvironment.h"
#include "testplugins.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTest>

// config.json as the window reads it at start and writes it back at close.
class TestWindowConfig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void readAtStart_data();
    void readAtStart();
    void writtenAtClose_data();
    void writtenAtClose();
    void configuredPluginLoadedAndKept();
    void unwritableConfigKept_data();
    void unwritableConfigKept();
};

namespace {

const QByteArray noFile;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Dates the file well in the past, so that a rewrite within the same second shows.
bool backdate(const QString &path, const QDateTime &when)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(when, QFileDevice::FileModificationTime);
}

QLineEdit *dllEdit(MainWindow &window)
{
    return window.findChild<QLineEdit *>(QStringLiteral("dllEdit"));
}

} // namespace

void TestWindowConfig::initTestCase()
{
    // The form asks Qt to connect slots by name although none matches; that is expected.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.core.qmetaobject.connectslotsbyname=false"));
}

void TestWindowConfig::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestWindowConfig::readAtStart_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("log");

    QTest::newRow("no file") << noFile << "Korvane " << false;
    QTest::newRow("all keys") << QByteArray(R"({"LOG": true, "APP_VERSION": "2.4.1", "DLL": ""})")
                              << "Korvane 2.4.1" << true;
    QTest::newRow("UTF-8 version") << QByteArray(R"({"APP_VERSION": "版本 1"})") << "Korvane 版本 1" << false;
    QTest::newRow("empty version") << QByteArray(R"({"APP_VERSION": "", "LOG": false})") << "Korvane "
                                   << false;
    QTest::newRow("syntax error") << QByteArray(R"({"LOG": true, "APP_VERSION": "2.4.1")") << "Korvane "
                                  << false;
    QTest::newRow("array root") << QByteArray(R"([{"LOG": true, "APP_VERSION": "2.4.1"}])") << "Korvane "
                                << false;
    QTest::newRow("LOG as the string true") << QByteArray(R"({"LOG": "true"})") << "Korvane " << false;
    QTest::newRow("LOG as a number") << QByteArray(R"({"LOG": 1})") << "Korvane " << false;
    QTest::newRow("version as a number") << QByteArray(R"({"APP_VERSION": 2})") << "Korvane " << false;
    QTest::newRow("keys in other case")
        << QByteArray(R"({"log": true, "App_Version": "3"})") << "Korvane " << false;
}

void TestWindowConfig::readAtStart()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, title);
    QFETCH(bool, log);

    TestEnvironment env;
    QVERIFY(env.isValid());
    if (!content.isNull())
        env.writeFile(QStringLiteral("config.json"), content);

    if (content.isNull())
        QTest::ignoreMessage(QtDebugMsg, "failed to open config.json");
    // The address handed to the device library is logged before the call.
    if (log)
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression(QStringLiteral("^0x[0-9a-f]*[1-9a-f][0-9a-f]*$")));
    else
        QTest::ignoreMessage(QtDebugMsg, "0x0");
    // With the log file on, the start line goes to the log file instead.
    if (!log)
        QTest::ignoreMessage(
            QtDebugMsg, qPrintable(QLatin1Char('"') + title + QStringLiteral("\" ...start")));

    MessageHandlerGuard handlers;
    MainWindow window;

    QCOMPARE(window.windowTitle(), title);
    QCOMPARE(handlers.installedNow() == &logMessageHandler, log);
    QCOMPARE(MainWindowTestAccess::logPath(window),
        env.applicationDirectory() + QDir::separator() + QStringLiteral("log"));
    // The log directory is made at every start, whatever "LOG" says.
    QVERIFY(QFileInfo(MainWindowTestAccess::logPath(window)).isDir());
    QVERIFY(dllEdit(window)->text().isEmpty());
}

void TestWindowConfig::writtenAtClose_data()
{
    QTest::addColumn<QByteArray>("initial");
    // Null: dllEdit stays as the start left it.
    QTest::addColumn<QString>("chosenPlugin");
    // Null: the file must be left exactly as it was (or stay absent).
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("no file, nothing chosen") << noFile << QString() << noFile;
    QTest::newRow("no file, plug-in chosen") << noFile << QStringLiteral("/opt/插件/libaes.so")
                                             << QByteArray("{\n    \"DLL\": \"/opt/插件/libaes.so\"\n}\n");
    QTest::newRow("empty path, plug-in chosen") << QByteArray(R"({"DLL": ""})") << QStringLiteral("/p/a.so")
                                                << QByteArray("{\n    \"DLL\": \"/p/a.so\"\n}\n");
    QTest::newRow("other keys kept, in Qt's order")
        << QByteArray(
               R"({"zeta": {"n": 1}, "DLL": "", "LOG": false, "APP_VERSION": "2", "alpha": [1, "two"]})")
        << QStringLiteral("/p/a.so")
        << QByteArray(
               "{\n    \"APP_VERSION\": \"2\",\n    \"DLL\": \"/p/a.so\",\n    \"LOG\": false,\n"
               "    \"alpha\": [\n        1,\n        \"two\"\n    ],\n    \"zeta\": {\n        \"n\": 1\n"
               "    }\n}\n");
    QTest::newRow("syntax error replaced")
        << QByteArray(R"({"DLL": "/old.so", "keep": )") << QStringLiteral("/p/a.so")
        << QByteArray("{\n    \"DLL\": \"/p/a.so\"\n}\n");
    QTest::newRow("array root replaced") << QByteArray(R"(["/old.so"])") << QStringLiteral("/p/a.so")
                                         << QByteArray("{\n    \"DLL\": \"/p/a.so\"\n}\n");
    QTest::newRow("missing plug-in cleared")
        << QByteArray(R"({"DLL": "/nowhere/libgone.so", "LOG": false})") << QString()
        << QByteArray("{\n    \"DLL\": \"\",\n    \"LOG\": false\n}\n");
    QTest::newRow("path differing in case only")
        << QByteArray(R"({"DLL": "/P/A.so"})") << QStringLiteral("/p/a.so")
        << QByteArray("{\n    \"DLL\": \"/p/a.so\"\n}\n");
    // Unchanged paths leave even a compact or oddly typed file alone.
    QTest::newRow("unchanged empty path") << QByteArray(R"({"DLL":"","x":1})") << QString() << noFile;
    QTest::newRow("path that is not a string") << QByteArray(R"({"DLL": 5})") << QString() << noFile;
    QTest::newRow("no path key, nothing chosen") << QByteArray(R"({"LOG": false})") << QString() << noFile;
}

void TestWindowConfig::writtenAtClose()
{
    QFETCH(QByteArray, initial);
    QFETCH(QString, chosenPlugin);
    QFETCH(QByteArray, expected);

    TestEnvironment env;
    QVERIFY(env.isValid());
    const QString configPath = AppPaths::configFilePath();
    const QDateTime past = QDateTime::currentDateTimeUtc().addDays(-400);
    if (!initial.isNull()) {
        env.writeFile(QStringLiteral("config.json"), initial);
        QVERIFY(backdate(configPath, past));
    }

    {
        MainWindow window;
        window.show();
        if (!chosenPlugin.isNull())
            dllEdit(window)->setText(chosenPlugin);
        QVERIFY(window.close());
    }

    if (!expected.isNull()) {
        QCOMPARE(readFile(configPath), expected);
    } else if (initial.isNull()) {
        QVERIFY(!QFile::exists(configPath));
    } else {
        QCOMPARE(readFile(configPath), initial);
        QCOMPARE(QFileInfo(configPath).lastModified().toUTC(), past);
    }
    // The save leaves no temporary file behind.
    QCOMPARE(QDir(env.applicationDirectory()).entryList({ QStringLiteral("config.json*") }, QDir::Files),
        expected.isNull() && initial.isNull() ? QStringList()
                                              : QStringList { QStringLiteral("config.json") });
}

void TestWindowConfig::configuredPluginLoadedAndKept()
{
    TestEnvironment env;
    QVERIFY(env.isValid());
    const QString plugin = QString::fromUtf8(TestPlugins::recordingPlugin);
    const QByteArray initial = R"({"DLL": ")" + plugin.toUtf8() + R"(", "APP_VERSION": "9"})";
    env.writeFile(QStringLiteral("config.json"), initial);
    QVERIFY(backdate(AppPaths::configFilePath(), QDateTime::currentDateTimeUtc().addDays(-2)));
    const QDateTime before = QFileInfo(AppPaths::configFilePath()).lastModified();

    MainWindow window;
    window.show();
    QCOMPARE(dllEdit(window)->text(), plugin);
    QVERIFY(MainWindowTestAccess::library(window).isLoaded());

    QVERIFY(window.close());
    QVERIFY(!MainWindowTestAccess::library(window).isLoaded());
    QCOMPARE(readFile(AppPaths::configFilePath()), initial);
    QCOMPARE(QFileInfo(AppPaths::configFilePath()).lastModified(), before);
}

void TestWindowConfig::unwritableConfigKept_data()
{
    QTest::addColumn<bool>("lockDirectory");
    QTest::newRow("read-only directory") << true;
    QTest::newRow("read-only file") << false;
}

void TestWindowConfig::unwritableConfigKept()
{
    QFETCH(bool, lockDirectory);

    TestEnvironment env;
    QVERIFY(env.isValid());
    const QByteArray initial = R"({"DLL": "", "keep": true})";
    const QString configPath = env.writeFile(QStringLiteral("config.json"), initial);
    const QString locked = lockDirectory ? env.applicationDirectory() : configPath;
    const QFileDevice::Permissions previous = QFile::permissions(locked);
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ReadUser
        | (lockDirectory ? QFileDevice::ExeOwner | QFileDevice::ExeUser : QFileDevice::Permissions());
    QVERIFY(QFile::setPermissions(locked, readOnly));
    // Put the permissions back whatever happens, so the temporary directory can go.
    struct Restore
    {
        QString path;
        QFileDevice::Permissions permissions;
        ~Restore() { QFile::setPermissions(path, permissions); }
    } restore { locked, previous };

    QFile probe(lockDirectory ? env.filePath(QStringLiteral("probe")) : configPath);
    if (probe.open(QIODevice::WriteOnly | QIODevice::Append))
        QSKIP("running with rights that permissions do not bind (e.g. as root)");

    {
        MainWindow window;
        window.show();
        dllEdit(window)->setText(QStringLiteral("/p/a.so"));
        QTest::ignoreMessage(QtDebugMsg, "failed to save config.json");
        // A failed save does not keep the window open.
        QVERIFY(window.close());
    }
    QCOMPARE(readFile(configPath), initial);
}

QTEST_MAIN(TestWindowConfig)
#include "tst_windowconfig.moc"
