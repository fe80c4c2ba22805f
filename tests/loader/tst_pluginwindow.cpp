#include "loadersupport.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "messageboxobserver.h"
#include "testenvironment.h"
#include "testplugins.h"
#include "threadworker.h"

#include <QApplication>
#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

const QStringList dataFilters { QStringLiteral("bin files (*.bin)"), QStringLiteral("text files (*.txt)"),
    QStringLiteral("All files (*)") };
#ifdef Q_OS_WIN
const QStringList pluginFilters { QStringLiteral("dll files (*.dll)"), QStringLiteral("All files (*)") };
#else
const QStringList pluginFilters { QStringLiteral("shared libraries (*.so)"),
    QStringLiteral("All files (*)") };
#endif

} // namespace

class PluginWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void acceptedPluginSetsEachLevelExactly_data();
    void acceptedPluginSetsEachLevelExactly();
    void refusedPluginChangesNothing_data();
    void refusedPluginChangesNothing();
    void startupRefusalShowsBoxBeforeWindowIsShown_data();
    void startupRefusalShowsBoxBeforeWindowIsShown();
    void pluginDialogCancelledChangesNothing();
    void pluginDialogIgnoredWhileWorkerExists();
    void dataFileDialogs_data();
    void dataFileDialogs();

private:
    QString copyOfPlugin(const QString &name) const { return copyOfRecordingPlugin(*environment, name); }
    void configurePlugin(const QString &path) const;
    // A fresh plug-in configured for start-up, answering the given level.
    QString configureNewPlugin(const QString &name, const QByteArray &level) const;
    template <typename Widget> static Widget *child(const MainWindow &window, const char *name);
    static QList<bool> levelBoxes(const MainWindow &window);

    std::unique_ptr<TestEnvironment> environment;
};

void PluginWindowTest::init()
{
    environment = std::make_unique<TestEnvironment>();
    QVERIFY(environment->isValid());
    pluginEntryTable() = PluginEntryTable();
    qunsetenv("KORVANE_TEST_PROOF_LEVEL");
}

void PluginWindowTest::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    environment.reset();
    qunsetenv("KORVANE_TEST_PROOF_LEVEL");
}

void PluginWindowTest::configurePlugin(const QString &path) const
{
    const QJsonObject config { { QStringLiteral("DLL"), path } };
    environment->writeFile(QStringLiteral("config.json"), QJsonDocument(config).toJson());
}

QString PluginWindowTest::configureNewPlugin(const QString &name, const QByteArray &level) const
{
    const QString path = copyOfPlugin(name);
    configurePlugin(path);
    qputenv("KORVANE_TEST_PROOF_LEVEL", level);
    return path;
}

template <typename Widget> Widget *PluginWindowTest::child(const MainWindow &window, const char *name)
{
    Widget *widget = window.findChild<Widget *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("the window has no %s", name);
    return widget;
}

QList<bool> PluginWindowTest::levelBoxes(const MainWindow &window)
{
    return { child<QCheckBox>(window, "basicCheck")->isChecked(),
        child<QCheckBox>(window, "middleCheck")->isChecked(),
        child<QCheckBox>(window, "highCheck")->isChecked() };
}

void PluginWindowTest::acceptedPluginSetsEachLevelExactly_data()
{
    QTest::addColumn<QByteArray>("firstLevel");
    QTest::addColumn<QByteArray>("secondLevel");
    QTest::addColumn<QList<bool>>("boxes");

    QTest::newRow("all, then none") << QByteArray("7") << QByteArray("0")
                                    << QList<bool> { false, false, false };
    QTest::newRow("all, then basic") << QByteArray("7") << QByteArray("1")
                                     << QList<bool> { true, false, false };
    QTest::newRow("all, then middle")
        << QByteArray("7") << QByteArray("2") << QList<bool> { false, true, false };
    QTest::newRow("all, then high") << QByteArray("7") << QByteArray("4")
                                    << QList<bool> { false, false, true };
    QTest::newRow("none, then all") << QByteArray("0") << QByteArray("7") << QList<bool> { true, true, true };
    QTest::newRow("all, then high bits only")
        << QByteArray("7") << QByteArray("0x18") << QList<bool> { false, false, false };
    QTest::newRow("none, then basic and high among high bits")
        << QByteArray("0") << QByteArray("0xfd") << QList<bool> { true, false, true };
    QTest::newRow("none, then every bit")
        << QByteArray("0") << QByteArray("-1") << QList<bool> { true, true, true };
    QTest::newRow("all, then middle with the sign bit")
        << QByteArray("7") << QByteArray("0x80000002") << QList<bool> { false, true, false };
}

void PluginWindowTest::acceptedPluginSetsEachLevelExactly()
{
    QFETCH(QByteArray, firstLevel);
    QFETCH(QByteArray, secondLevel);
    QFETCH(QList<bool>, boxes);

    const QString first = configureNewPlugin(QStringLiteral("first.so"), firstLevel);
    const QString second = copyOfPlugin(QStringLiteral("second.so"));
    MessageBoxObserver observer;
    MainWindow window;
    QCOMPARE(child<QLineEdit>(window, "dllEdit")->text(), first);
    QVERIFY(isModuleMapped(first));

    qputenv("KORVANE_TEST_PROOF_LEVEL", secondLevel);
    observer.queueFileDialogAnswer(second);
    child<QPushButton>(window, "dllButton")->click();

    QCOMPARE(observer.fileDialogs().size(), 1);
    QCOMPARE(observer.fileDialogs().first().title, QStringLiteral("Select a Dll"));
    QVERIFY(observer.messageBoxes().isEmpty());
    QCOMPARE(child<QLineEdit>(window, "dllEdit")->text(), second);
    QCOMPARE(levelBoxes(window), boxes);
    QVERIFY(!isModuleMapped(first));
    QVERIFY(isModuleMapped(second));
}

void PluginWindowTest::refusedPluginChangesNothing_data()
{
    QTest::addColumn<QString>("path"); // empty: a text file dressed as a library
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QString>("boxText");

    QTest::newRow("not a library") << QString() << QStringLiteral("loading dll failed")
                                   << QStringLiteral("Failed to load %1!");
    for (const TestPlugins::MissingExportPlugin &plugin : TestPlugins::missingExportPlugins) {
        QTest::newRow(plugin.exportName) << QString::fromUtf8(plugin.path)
                                         << QStringLiteral("Not found %1 in the dll").arg(plugin.exportName)
                                         << QStringLiteral("%1 is invalid!");
    }
}

void PluginWindowTest::refusedPluginChangesNothing()
{
    QFETCH(QString, path);
    QFETCH(QString, logLine);
    QFETCH(QString, boxText);
    if (path.isEmpty())
        path = environment->writeFile(QStringLiteral("notes.so"), "not a library\n");

    const QString current = configureNewPlugin(QStringLiteral("current.so"), "5");
    MessageBoxObserver observer;
    MainWindow window;
    const PluginEntryTable before = pluginEntryTable();

    QTest::ignoreMessage(QtDebugMsg, qPrintable(logLine));
    // A refused plug-in that gets as far as its level must not show it either.
    qputenv("KORVANE_TEST_PROOF_LEVEL", "2");
    observer.queueFileDialogAnswer(path);
    child<QPushButton>(window, "dllButton")->click();

    QCOMPARE(observer.messageBoxes().size(), 1);
    const ObservedMessageBox &box = observer.messageBoxes().first();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QStringLiteral("Korvane"));
    QCOMPARE(box.text, boxText.arg(path));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Asked for without a default button, Qt makes the single Ok the default.
    QCOMPARE(box.defaultButton, QMessageBox::Ok);
    QCOMPARE(box.parent, &window);

    QCOMPARE(child<QLineEdit>(window, "dllEdit")->text(), current);
    QCOMPARE(levelBoxes(window), (QList<bool> { true, false, true }));
    QVERIFY(MainWindowTestAccess::library(window).isLoaded());
    QCOMPARE(entryTableBytes(pluginEntryTable()), entryTableBytes(before));
    QVERIFY(isModuleMapped(current));
    QVERIFY(!isModuleMapped(path));
}

void PluginWindowTest::startupRefusalShowsBoxBeforeWindowIsShown_data()
{
    QTest::addColumn<QString>("path"); // empty: a text file dressed as a library
    QTest::addColumn<QString>("boxText");

    QTest::newRow("not a library") << QString() << QStringLiteral("Failed to load %1!");
    for (const TestPlugins::MissingExportPlugin &plugin : TestPlugins::missingExportPlugins) {
        const QString exportName = QString::fromUtf8(plugin.exportName);
        if (exportName == QLatin1String("getProofLevel") || exportName == QLatin1String("doHighEncrypt"))
            QTest::newRow(plugin.exportName)
                << QString::fromUtf8(plugin.path) << QStringLiteral("%1 is invalid!");
    }
}

void PluginWindowTest::startupRefusalShowsBoxBeforeWindowIsShown()
{
    QFETCH(QString, path);
    QFETCH(QString, boxText);
    if (path.isEmpty())
        path = environment->writeFile(QStringLiteral("notes.so"), "not a library\n");
    configurePlugin(path);
    MessageBoxObserver observer;
    bool windowVisibleUnderBox = true;
    observer.setOnMessageBox([&](QMessageBox *box) {
        windowVisibleUnderBox = box->parentWidget() && box->parentWidget()->isVisible();
    });

    MainWindow window;

    QCOMPARE(observer.messageBoxes().size(), 1);
    QCOMPARE(observer.messageBoxes().first().text, boxText.arg(path));
    QCOMPARE(observer.messageBoxes().first().parent, &window);
    QVERIFY(!windowVisibleUnderBox);
    QVERIFY(child<QLineEdit>(window, "dllEdit")->text().isEmpty());
    QCOMPARE(levelBoxes(window), (QList<bool> { false, false, false }));
    QVERIFY(!MainWindowTestAccess::library(window).isLoaded());
    QCOMPARE(entryTableBytes(pluginEntryTable()), entryTableBytes(PluginEntryTable()));
}

void PluginWindowTest::pluginDialogCancelledChangesNothing()
{
    const QString current = configureNewPlugin(QStringLiteral("current.so"), "3");
    MessageBoxObserver observer;
    MainWindow window;
    const PluginEntryTable before = pluginEntryTable();

    observer.queueFileDialogAnswer(QString());
    child<QPushButton>(window, "dllButton")->click();

    QCOMPARE(observer.fileDialogs().size(), 1);
    const ObservedFileDialog &dialog = observer.fileDialogs().first();
    QCOMPARE(dialog.title, QStringLiteral("Select a Dll"));
    QCOMPARE(dialog.nameFilters, pluginFilters);
    QCOMPARE(dialog.parent, &window);
    QVERIFY(observer.messageBoxes().isEmpty());
    QCOMPARE(child<QLineEdit>(window, "dllEdit")->text(), current);
    QCOMPARE(levelBoxes(window), (QList<bool> { true, true, false }));
    QVERIFY(MainWindowTestAccess::library(window).isLoaded());
    QCOMPARE(entryTableBytes(pluginEntryTable()), entryTableBytes(before));
}

// Between a launch and the busy state that disables dllButton, only the worker's
// presence says that an action is under way.
void PluginWindowTest::pluginDialogIgnoredWhileWorkerExists()
{
    const QString current = configureNewPlugin(QStringLiteral("current.so"), "7");
    const QString chosen = copyOfPlugin(QStringLiteral("chosen.so"));
    MessageBoxObserver observer;
    MainWindow window;
    QPushButton *dllButton = child<QPushButton>(window, "dllButton");
    QVERIFY(dllButton->isEnabled());

    ThreadWorker launched;
    MainWindowTestAccess::setWorker(window, &launched);
    observer.queueFileDialogAnswer(chosen);
    dllButton->click();
    QVERIFY(observer.fileDialogs().isEmpty());
    QCOMPARE(child<QLineEdit>(window, "dllEdit")->text(), current);
    QVERIFY(!isModuleMapped(chosen));

    // The same click goes through once the worker is gone.
    MainWindowTestAccess::setWorker(window, nullptr);
    dllButton->click();
    QCOMPARE(observer.fileDialogs().size(), 1);
    QCOMPARE(child<QLineEdit>(window, "dllEdit")->text(), chosen);
    QVERIFY(isModuleMapped(chosen));
}

void PluginWindowTest::dataFileDialogs_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QByteArray>("edit");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("typable");

    QTest::newRow("basic key") << QByteArray("basicKeyButton") << QByteArray("basicKeyEdit")
                               << QStringLiteral("Select a Key") << true;
    QTest::newRow("middle plain") << QByteArray("middlePlainButton") << QByteArray("middlePlainEdit")
                                  << QStringLiteral("Select a Plain") << false;
    QTest::newRow("high key") << QByteArray("highKeyButton") << QByteArray("highKeyEdit")
                              << QStringLiteral("Select a Key") << true;
}

void PluginWindowTest::dataFileDialogs()
{
    QFETCH(QByteArray, button);
    QFETCH(QByteArray, edit);
    QFETCH(QString, title);
    QFETCH(bool, typable);

    const QString chosen = environment->writeFile(QStringLiteral("chosen key (1).bin"), QByteArray(32, 'k'));
    MessageBoxObserver observer;
    MainWindow window;
    QLineEdit *target = child<QLineEdit>(window, edit.constData());
    QCOMPARE(target->isReadOnly(), !typable);
    const QString earlier = QStringLiteral("C:/an earlier, much longer path typed by hand/key.bin");
    target->setText(earlier);

    observer.queueFileDialogAnswer(QString());
    child<QPushButton>(window, button.constData())->click();
    QCOMPARE(observer.fileDialogs().size(), 1);
    QCOMPARE(target->text(), earlier);

    observer.queueFileDialogAnswer(chosen);
    child<QPushButton>(window, button.constData())->click();
    QCOMPARE(observer.fileDialogs().size(), 2);
    QCOMPARE(target->text(), chosen);

    for (const ObservedFileDialog &dialog : observer.fileDialogs()) {
        QCOMPARE(dialog.title, title);
        QCOMPARE(dialog.nameFilters, dataFilters);
        QCOMPARE(dialog.parent, &window);
    }
    // Choosing a file is no error and leaves the plug-in side alone.
    QVERIFY(observer.messageBoxes().isEmpty());
    QVERIFY(child<QLineEdit>(window, "dllEdit")->text().isEmpty());
    QCOMPARE(levelBoxes(window), (QList<bool> { false, false, false }));
}

QTEST_MAIN(PluginWindowTest)
#include "tst_pluginwindow.moc"
