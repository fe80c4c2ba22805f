#include "logmessagehandler.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "messageboxobserver.h"
#include "testbench.h"
#include "testenvironment.h"
#include "threadworker.h"
#include "translation.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QJsonArray>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSpacerItem>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTranslator>

// The window's widget tree and texts, its close handling, and its life with the
// device library.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void widgetClasses_data();
    void widgetClasses();
    void layouts_data();
    void layouts();
    void initialStates();
    void texts();
    void buttonConnections_data();
    void buttonConnections();
    void closeRefusedWhileBusy_data();
    void closeRefusedWhileBusy();
    void deviceLibraryLife_data();
    void deviceLibraryLife();
    void titleUnderTranslation();
};

namespace {

template <typename T = QWidget> T *child(MainWindow &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

QString policyName(QSizePolicy::Policy policy)
{
    switch (policy) {
    case QSizePolicy::Expanding:
        return QStringLiteral("Expanding");
    case QSizePolicy::Minimum:
        return QStringLiteral("Minimum");
    default:
        return QString::number(policy);
    }
}

// A layout item as the tables below name it: a widget or layout by object name, a
// spacer by its size and policies.
QString describe(QLayoutItem *item)
{
    if (QWidget *widget = item->widget())
        return widget->objectName();
    if (QLayout *layout = item->layout())
        return layout->objectName();
    if (QSpacerItem *spacer = item->spacerItem()) {
        const QSize size = spacer->sizeHint();
        return QStringLiteral("spacer %1x%2 %3 %4")
            .arg(size.width())
            .arg(size.height())
            .arg(policyName(spacer->sizePolicy().horizontalPolicy()),
                policyName(spacer->sizePolicy().verticalPolicy()));
    }
    return QStringLiteral("?");
}

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

void TestMainWindow::widgetClasses_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");

    const QString central = QStringLiteral("centralwidget");
    // Tab pages end up on the tab widget's internal stack.
    const QString pages = QStringLiteral("qt_tabwidget_stackedwidget");
    const struct
    {
        const char *name;
        const char *className;
        QString parent;
    } rows[] = {
        { "centralwidget", "QWidget", QStringLiteral("MainWindow") },
        { "verticalLayout", "QVBoxLayout", central },
        { "dllLabel", "QLabel", central },
        { "dllEdit", "QLineEdit", central },
        { "dllButton", "QPushButton", central },
        { "basicCheck", "QCheckBox", central },
        { "middleCheck", "QCheckBox", central },
        { "highCheck", "QCheckBox", central },
        { "levelTabWidget", "QTabWidget", central },
        { "basicTab", "QWidget", pages },
        { "verticalLayout_2", "QVBoxLayout", QStringLiteral("basicTab") },
        { "basicStepLabel", "QLabel", QStringLiteral("basicTab") },
        { "basicKeyButton", "QPushButton", QStringLiteral("basicTab") },
        { "basicKeyEdit", "QLineEdit", QStringLiteral("basicTab") },
        { "label", "QLabel", QStringLiteral("basicTab") },
        { "basicRunButton", "QPushButton", QStringLiteral("basicTab") },
        { "middleTab", "QWidget", pages },
        { "verticalLayout_3", "QVBoxLayout", QStringLiteral("middleTab") },
        { "middleStepLabel", "QLabel", QStringLiteral("middleTab") },
        { "middlePlainButton", "QPushButton", QStringLiteral("middleTab") },
        { "middlePlainEdit", "QLineEdit", QStringLiteral("middleTab") },
        { "middleRunButton", "QPushButton", QStringLiteral("middleTab") },
        { "highTab", "QWidget", pages },
        { "verticalLayout_4", "QVBoxLayout", QStringLiteral("highTab") },
        { "highStepLabel", "QLabel", QStringLiteral("highTab") },
        { "highKeyButton", "QPushButton", QStringLiteral("highTab") },
        { "highKeyEdit", "QLineEdit", QStringLiteral("highTab") },
        { "highKeySpin", "QSpinBox", QStringLiteral("highTab") },
        { "highRunButton", "QPushButton", QStringLiteral("highTab") },
        { "outputList", "QListWidget", central },
        { "statusBar", "QStatusBar", QStringLiteral("MainWindow") },
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.name) << QString::fromLatin1(row.className)
                                << row.parent;
}

void TestMainWindow::widgetClasses()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);

    TestEnvironment env;
    MainWindow window;
    const QList<QObject *> found = window.findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
    QVERIFY(found.first()->parent());
    QCOMPARE(found.first()->parent()->objectName(), parentName);
}

void TestMainWindow::layouts_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("items");

    const QString checkSpacer = QStringLiteral("spacer 40x20 Expanding Minimum");
    QTest::newRow("window") << "verticalLayout"
                            << QStringList { "horizontalLayout_2", "horizontalLayout", "horizontalLayout_3" };
    QTest::newRow("plug-in row") << "horizontalLayout_2"
                                 << QStringList { "dllLabel", "dllEdit", "dllButton" };
    QTest::newRow("level row") << "horizontalLayout"
                               << QStringList { "basicCheck", "middleCheck", "highCheck", checkSpacer };
    QTest::newRow("work row") << "horizontalLayout_3" << QStringList { "levelTabWidget", "outputList" };
    QTest::newRow("basic page") << "verticalLayout_2"
                                << QStringList { "basicStepLabel", "horizontalLayout_8", "horizontalLayout_4",
                                       "spacer 20x339 Minimum Expanding" };
    QTest::newRow("basic key row") << "horizontalLayout_8"
                                   << QStringList { "basicKeyButton", "basicKeyEdit", "label" };
    QTest::newRow("basic run row") << "horizontalLayout_4" << QStringList { "basicRunButton", checkSpacer };
    QTest::newRow("middle page") << "verticalLayout_3"
                                 << QStringList { "middleStepLabel", "horizontalLayout_6",
                                        "horizontalLayout_5", "spacer 20x301 Minimum Expanding" };
    QTest::newRow("middle data row") << "horizontalLayout_6"
                                     << QStringList { "middlePlainButton", "middlePlainEdit" };
    QTest::newRow("middle run row") << "horizontalLayout_5" << QStringList { "middleRunButton", checkSpacer };
    QTest::newRow("high page") << "verticalLayout_4"
                               << QStringList { "highStepLabel", "horizontalLayout_7", "horizontalLayout_9",
                                      "spacer 20x275 Minimum Expanding" };
    QTest::newRow("high key row") << "horizontalLayout_7"
                                  << QStringList { "highKeyButton", "highKeyEdit", "highKeySpin" };
    QTest::newRow("high run row") << "horizontalLayout_9" << QStringList { "highRunButton", checkSpacer };
}

void TestMainWindow::layouts()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, items);

    TestEnvironment env;
    MainWindow window;
    auto *box = window.findChild<QBoxLayout *>(layout);
    QVERIFY(box);
    QStringList found;
    for (int i = 0; i < box->count(); ++i) {
        found << describe(box->itemAt(i));
        QCOMPARE(box->stretch(i), 0);
        QCOMPARE(box->itemAt(i)->alignment(), Qt::Alignment());
    }
    QCOMPARE(found, items);
}

void TestMainWindow::initialStates()
{
    TestEnvironment env;
    MainWindow window;

    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.size(), QSize(800, 600));
    QVERIFY(!window.windowIcon().pixmap(QSize(32, 32)).isNull());
    QCOMPARE(window.centralWidget(), child(window, "centralwidget"));
    QCOMPARE(window.statusBar(), child<QStatusBar>(window, "statusBar"));
    QCOMPARE(child(window, "centralwidget")->layout(),
        window.findChild<QLayout *>(QStringLiteral("verticalLayout")));
    QCOMPARE(
        child(window, "basicTab")->layout(), window.findChild<QLayout *>(QStringLiteral("verticalLayout_2")));
    QCOMPARE(child(window, "middleTab")->layout(),
        window.findChild<QLayout *>(QStringLiteral("verticalLayout_3")));
    QCOMPARE(
        child(window, "highTab")->layout(), window.findChild<QLayout *>(QStringLiteral("verticalLayout_4")));

    auto *tabs = child<QTabWidget>(window, "levelTabWidget");
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->widget(0), child(window, "basicTab"));
    QCOMPARE(tabs->widget(1), child(window, "middleTab"));
    QCOMPARE(tabs->widget(2), child(window, "highTab"));
    QCOMPARE(tabs->currentIndex(), 0);

    for (const char *name : { "basicCheck", "middleCheck", "highCheck" }) {
        auto *check = child<QCheckBox>(window, name);
        QVERIFY2(!check->isEnabled(), name);
        QVERIFY2(!check->isChecked(), name);
    }

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Typed text reaches only the two key edits; the paths come from dialogs.
    const struct
    {
        const char *name;
        bool readOnly;
    } edits[] = { { "dllEdit", true }, { "basicKeyEdit", false }, { "middlePlainEdit", true },
        { "highKeyEdit", false } };
    for (const auto &edit : edits) {
        auto *lineEdit = child<QLineEdit>(window, edit.name);
        QVERIFY2(lineEdit->text().isEmpty(), edit.name);
        if (tabs->indexOf(lineEdit->parentWidget()) >= 0)
            tabs->setCurrentWidget(lineEdit->parentWidget());
        lineEdit->setFocus();
        QTest::keyClicks(lineEdit, QStringLiteral("k.bin"));
        QCOMPARE(lineEdit->text(), edit.readOnly ? QString() : QStringLiteral("k.bin"));
    }

    auto *spin = child<QSpinBox>(window, "highKeySpin");
    QCOMPARE(spin->value(), 0);
    QCOMPARE(spin->minimum(), 0);
    QCOMPARE(spin->maximum(), 3);
    spin->setValue(4);
    QCOMPARE(spin->value(), 3);
    spin->setValue(-1);
    QCOMPARE(spin->value(), 0);

    const struct
    {
        const char *name;
        QSize minimum;
    } sizes[] = { { "basicRunButton", { 100, 50 } }, { "middleRunButton", { 100, 50 } },
        { "highRunButton", { 100, 50 } }, { "middlePlainButton", { 0, 30 } },
        { "middlePlainEdit", { 0, 30 } }, { "dllButton", { 0, 0 } }, { "highKeySpin", { 0, 0 } } };
    for (const auto &size : sizes)
        QCOMPARE(child(window, size.name)->minimumSize(), size.minimum);

    QCOMPARE(child<QListWidget>(window, "outputList")->count(), 0);
}

void TestMainWindow::texts()
{
    TestEnvironment env;
    MainWindow window;

    const struct
    {
        const char *name;
        const char *text;
    } labels[] = {
        { "dllLabel", "Dll:" },
        { "dllButton", "Browse..." },
        { "basicCheck", "Basic Level" },
        { "middleCheck", "Middle Level" },
        { "highCheck", "High Level" },
        { "basicStepLabel",
            "<html><head/><body><p>1.Get CpuID</p><p>2.Encrypt</p><p>3.Write</p></body></html>" },
        { "basicKeyButton", "Key..." },
        { "label", "(Optional)" },
        { "basicRunButton", "Run" },
        { "middleStepLabel",
            "<html><head/><body><p>1.Select Data</p><p>2.Encrypt(Optional)</p><p>3.Write</p></body></html>" },
        { "middlePlainButton", "Data..." },
        { "middleRunButton", "Run" },
        { "highStepLabel", "<html><head/><body><p>1.Select Oem Key</p><p>2.Write</p></body></html>" },
        { "highKeyButton", "Key..." },
        { "highRunButton", "Run" },
    };
    for (const auto &label : labels)
        QCOMPARE(child(window, label.name)->property("text").toString(), QString::fromUtf8(label.text));
    for (const char *name : { "basicStepLabel", "middleStepLabel", "highStepLabel" })
        QVERIFY2(Qt::mightBeRichText(child<QLabel>(window, name)->text()), name);

    auto *tabs = child<QTabWidget>(window, "levelTabWidget");
    QCOMPARE(tabs->tabText(0), QStringLiteral("Basic Level"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Middle Level"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("High Level"));
}

void TestMainWindow::buttonConnections_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("slot");

    QTest::newRow("dllButton") << "dllButton" << QByteArray("browseDllClick()");
    QTest::newRow("basicRunButton") << "basicRunButton" << QByteArray("basicRunClick()");
    QTest::newRow("middlePlainButton") << "middlePlainButton" << QByteArray("browseMiddlePlainClick()");
    QTest::newRow("middleRunButton") << "middleRunButton" << QByteArray("middleRunClick()");
    QTest::newRow("highKeyButton") << "highKeyButton" << QByteArray("browseHighKeyClick()");
    QTest::newRow("highRunButton") << "highRunButton" << QByteArray("highRunClick()");
    QTest::newRow("basicKeyButton") << "basicKeyButton" << QByteArray("browseBasicKeyClick()");
}

void TestMainWindow::buttonConnections()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, slot);

    TestEnvironment env;
    MainWindow window;
    auto *pushButton = window.findChild<QPushButton *>(button);
    QVERIFY(pushButton);
    // Disconnecting succeeds only for a connection to exactly this slot; afterwards
    // nothing else may hang on the button's click.
    const QByteArray signal = QByteArray::number(QSIGNAL_CODE) + "clicked()";
    const QByteArray method = QByteArray::number(QSLOT_CODE) + slot;
    QVERIFY(QObject::disconnect(pushButton, signal.constData(), &window, method.constData()));
    QVERIFY(!QObject::disconnect(pushButton, signal.constData(), nullptr, nullptr));
    QVERIFY(!QObject::disconnect(pushButton, &QPushButton::clicked, nullptr, nullptr));
}

void TestMainWindow::closeRefusedWhileBusy_data()
{
    QTest::addColumn<int>("running");
    QTest::addColumn<bool>("launched");

    QTest::newRow("action running") << 1 << true;
    QTest::newRow("running flag alone") << 1 << false;
    // Between the launch and the thread's start the worker exists but the flag is 0.
    QTest::newRow("launched, not yet started") << 0 << true;
}

void TestMainWindow::closeRefusedWhileBusy()
{
    QFETCH(int, running);
    QFETCH(bool, launched);

    TestEnvironment env;
    const QByteArray initial = R"({"DLL": ""})";
    const QString configPath = env.writeFile(QStringLiteral("config.json"), initial);
    MessageBoxObserver observer;
    ThreadWorker worker;

    MainWindow window;
    window.show();
    child<QLineEdit>(window, "dllEdit")->setText(QStringLiteral("/p/new.so"));
    MainWindowTestAccess::setActionRunning(window, running);
    if (launched)
        MainWindowTestAccess::setWorker(window, &worker);

    QVERIFY(!window.close());
    QCOMPARE(observer.messageBoxes().size(), 1);
    const ObservedMessageBox box = observer.messageBoxes().first();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, QStringLiteral("Korvane"));
    QCOMPARE(box.text, QStringLiteral("Action is still running,stop quit!"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Asked for without a default button, Qt makes the single Ok the default.
    QCOMPARE(box.defaultButton, QMessageBox::Ok);
    QCOMPARE(box.parent, &window);
    QVERIFY(window.isVisible());
    {
        QFile file(configPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), initial);
    }

    // Once the action is over the same close goes through and saves.
    MainWindowTestAccess::setActionRunning(window, 0);
    MainWindowTestAccess::setWorker(window, nullptr);
    QVERIFY(window.close());
    QCOMPARE(observer.messageBoxes().size(), 1);
    QFile file(configPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("{\n    \"DLL\": \"/p/new.so\"\n}\n"));
}

void TestMainWindow::deviceLibraryLife_data()
{
    QTest::addColumn<bool>("log");
    QTest::addColumn<bool>("initializeFails");

    QTest::newRow("log off") << false << false;
    QTest::newRow("log on") << true << false;
    QTest::newRow("initialisation refused") << false << true;
}

void TestMainWindow::deviceLibraryLife()
{
    QFETCH(bool, log);
    QFETCH(bool, initializeFails);

    TestEnvironment env;
    TestBench bench(env.benchDirectory());
    bench.attach(QStringLiteral("b1"), ZvSim::Loader);
    bench.setInitializeFails(initializeFails);
    env.writeFile(QStringLiteral("config.json"), log ? R"({"LOG": true})" : R"({"LOG": false})");

    QString logPath;
    {
        MessageHandlerGuard handlers;
        MainWindow window;
        logPath = MainWindowTestAccess::logPath(window);
        QCOMPARE(MainWindowTestAccess::deviceLibraryReady(window), !initializeFails);
        // The board attached before start shows at once.
        QCOMPARE(window.statusBar()->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
        QCOMPARE(window.statusBar()->findChild<QLabel *>()->text(), QStringLiteral("One Loader device"));

        const QList<QJsonObject> initialisations = bench.journalCalls(QStringLiteral("ZV_InitializeW"));
        QCOMPARE(initialisations.size(), 1);
        const QJsonObject args = initialisations.first().value(QStringLiteral("args")).toObject();
        QCOMPARE(
            args.value(QStringLiteral("settings")).toArray(), (QJsonArray { 0, 0, 0, 0, 0, 0, 10, 30, 0 }));
        QCOMPARE(args.value(QStringLiteral("logEnabled")).toInt(), log ? 1 : 0);
        QCOMPARE(args.value(QStringLiteral("logDirectory")),
            log ? QJsonValue(env.applicationDirectory() + QDir::separator() + QStringLiteral("log"))
                : QJsonValue(QJsonValue::Null));
        QCOMPARE(args.value(QStringLiteral("extra")).toString(), QString(32, QLatin1Char('0')));
        QVERIFY(bench.journalCalls(QStringLiteral("ZV_Uninitialize")).isEmpty());
    }

    // Released once, at the very end, and only when it had been accepted.
    const QList<QJsonObject> journal = bench.journal();
    QVERIFY(!journal.isEmpty());
    QCOMPARE(bench.journalCalls(QStringLiteral("ZV_Uninitialize")).size(), initializeFails ? 0 : 1);
    if (!initializeFails)
        QCOMPARE(journal.last().value(QStringLiteral("call")).toString(), QStringLiteral("ZV_Uninitialize"));
    QCOMPARE(journal.first().value(QStringLiteral("call")).toString(), QStringLiteral("ZV_InitializeW"));
}

void TestMainWindow::titleUnderTranslation()
{
    TestEnvironment env;
    env.writeFile(QStringLiteral("config.json"), R"({"APP_VERSION": "1.0.0"})");
    QTranslator translator;
    QVERIFY(loadTranslationFor(translator, { QStringLiteral("zh-CN") }));
    QVERIFY(QCoreApplication::installTranslator(&translator));

    MainWindow window;
    QCoreApplication::removeTranslator(&translator);
    // The name is translated, the version is not.
    QCOMPARE(window.windowTitle(), QStringLiteral("科尔瓦内 1.0.0"));
    const QString basicLevel = translator.translate("MainWindow", "Basic Level");
    QVERIFY(!basicLevel.isEmpty());
    QCOMPARE(child<QTabWidget>(window, "levelTabWidget")->tabText(0), basicLevel);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
