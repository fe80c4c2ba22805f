#include "hardeningsupport.h"

#include "testplugins.h"

#include <QJsonDocument>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

namespace {

const char *const runButtons[] = { nullptr, "basicRunButton", "middleRunButton", "highRunButton" };
const char *const fileEdits[] = { nullptr, "basicKeyEdit", "middlePlainEdit", "highKeyEdit" };

} // namespace

WindowUnderTest::WindowUnderTest()
    : testBench(environment.benchDirectory())
    , pluginJournal(environment.filePath(QStringLiteral("plugin.jsonl")))
{
}

WindowUnderTest::~WindowUnderTest()
{
    if (mainWindow)
        close();
}

void WindowUnderTest::writeConfig(const QByteArray &content)
{
    const QJsonObject config { { "DLL", QString::fromUtf8(TestPlugins::recordingPlugin) } };
    environment.writeFile(QStringLiteral("config.json"), content.isNull() ? QJsonDocument(config).toJson() : content);
}

void WindowUnderTest::open()
{
    mainWindow = std::make_unique<MainWindow>();
    mainWindow->show();
    journalAtOpen = testBench.journal().size();
    pluginJournal.clear();
}

bool WindowUnderTest::close()
{
    return !mainWindow || mainWindow->close();
}

void WindowUnderTest::setFile(int level, const QString &path)
{
    widget<QLineEdit>(fileEdits[level])->setText(path);
}

void WindowUnderTest::run(int level)
{
    widget<QPushButton>(runButtons[level])->click();
}

QString WindowUnderTest::nextBox()
{
    if (!boxes.waitForMessageBoxes(boxesRead + 1))
        return QString();
    const ObservedMessageBox box = boxes.messageBoxes().at(boxesRead++);
    if (box.parent != mainWindow.get() || box.title != QStringLiteral("Korvane") || box.buttons != QMessageBox::Ok)
        return QStringLiteral("<box of another form>");
    return box.text;
}

QMessageBox::Icon WindowUnderTest::lastBoxIcon() const
{
    return boxesRead ? boxes.messageBoxes().at(boxesRead - 1).icon : QMessageBox::NoIcon;
}

QList<QPair<QString, bool>> WindowUnderTest::outputLines() const
{
    QList<QPair<QString, bool>> lines;
    const auto *list = widget<QListWidget>("outputList");
    for (int i = 0; i < list->count(); ++i)
        lines.append({ list->item(i)->text(), list->item(i)->background() == QBrush(Qt::red, Qt::SolidPattern) });
    return lines;
}

bool WindowUnderTest::isIdle() const
{
    return widget<QTabWidget>("levelTabWidget")->isEnabled() && widget<QPushButton>("dllButton")->isEnabled();
}

QStringList WindowUnderTest::deviceCalls() const
{
    QStringList calls;
    const QList<QJsonObject> journal = testBench.journal();
    for (qsizetype i = journalAtOpen; i < journal.size(); ++i) {
        const QString call = journal.at(i).value(QStringLiteral("call")).toString();
        if (call != QStringLiteral("ZV_ScanDeviceW"))
            calls.append(call);
    }
    return calls;
}

QStringList WindowUnderTest::targetsReceived(const QString &board) const
{
    return testBench.bench().writtenTargets(board);
}

QByteArray patternBytes(int size, char seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + 0x21 + i % 89);
    return bytes;
}
