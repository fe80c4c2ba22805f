#include "windowdriver.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

namespace {

const char *const runButtons[] = { nullptr, "basicRunButton", "middleRunButton", "highRunButton" };
const char *const fileEdits[] = { nullptr, "basicKeyEdit", "middlePlainEdit", "highKeyEdit" };

} // namespace

OutputLines actionLines(const QStringList &texts, bool failed)
{
    OutputLines lines;
    for (const QString &text : texts)
        lines.append({ text, false });
    if (!lines.isEmpty())
        lines.last().second = failed;
    return lines;
}

QStringList doneLines(int level)
{
    switch (level) {
    case 1:
        return { "read cpuid...", "encode cpuid...", "write cpuid...", "basic action done" };
    case 2:
        return { "encode data...", "write encoded data...", "middle action done" };
    case 3:
        return { "write oem key...", "high action done" };
    }
    return {};
}

WindowDriver::WindowDriver() = default;

WindowDriver::~WindowDriver() = default;

void WindowDriver::open()
{
    mainWindow = std::make_unique<MainWindow>();
    mainWindow->show();
}

bool WindowDriver::close()
{
    // No action may outlive its test: the window closes only when none is launched.
    if (mainWindow && !QTest::qWaitFor([this] { return mainWindow->close(); }))
        return false;
    mainWindow.reset();
    return true;
}

void WindowDriver::setFile(int level, const QString &path)
{
    widget<QLineEdit>(fileEdits[level])->setText(path);
}

void WindowDriver::run(int level)
{
    widget<QAbstractButton>(runButtons[level])->click();
}

bool WindowDriver::isIdle() const
{
    return widget("levelTabWidget")->isEnabled() && widget("dllButton")->isEnabled();
}

QString WindowDriver::nextBox(QMessageBox::Icon icon)
{
    if (!boxes.waitForMessageBoxes(read + 1))
        return QString();
    const ObservedMessageBox box = boxes.messageBoxes().at(read++);
    const bool form = box.parent == mainWindow.get() && box.title == "Korvane" && box.icon == icon
        && box.buttons == QMessageBox::Ok;
    return form ? box.text : QStringLiteral("<box of another form>");
}

QString WindowDriver::nextResult()
{
    if (!boxes.waitForMessageBoxes(read + 1))
        return QString();
    const bool ok = boxes.messageBoxes().at(read).text == QLatin1String("Action ok.");
    return nextBox(ok ? QMessageBox::Information : QMessageBox::Critical);
}

OutputLines WindowDriver::outputLines() const
{
    OutputLines lines;
    const auto *list = widget<QListWidget>("outputList");
    for (int i = 0; i < list->count(); ++i) {
        const QBrush background = list->item(i)->background();
        const bool red = background == QBrush(Qt::red, Qt::SolidPattern);
        if (!red && background.style() != Qt::NoBrush)
            return {};
        lines.append({ list->item(i)->text(), red });
    }
    return lines;
}
