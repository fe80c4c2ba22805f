// korvane-screenshots: opens Korvane's window as the executable does, carries out a
// list of steps on it by object name and saves what the screen shows. Run it under an
// X server (scripts/screenshots.sh uses a virtual one).

#include "apppaths.h"
#include "mainwindow.h"
#include "messageboxobserver.h"
#include "translation.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QLineEdit>
#include <QLocale>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <QTranslator>

#include <cstdio>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <dwmapi.h>
#endif

namespace {

const char usage[] = "Steps, carried out in order:\n"
                     "  shot:FILE          save the window as it is on the screen\n"
                     "  tab:NAME           show the level tab whose page is named NAME\n"
                     "  set:EDIT=TEXT      put TEXT into the line edit EDIT\n"
                     "  run:BUTTON=FILE    press BUTTON, wait for the action's result box, save the\n"
                     "                     window with the box to FILE, answer the box with Ok\n";

bool fail(const QString &reason)
{
    std::fprintf(stderr, "korvane-screenshots: %s\n", qPrintable(reason));
    return false;
}

// The window as it is seen, frame included. Qt leaves out the frame edges that Windows 10
// draws invisible, which the compositor knows; without one (Wine) all of the window is drawn.
QRect visibleFrame(const QWidget &window)
{
#ifdef Q_OS_WIN
    const HWND handle = reinterpret_cast<HWND>(window.winId());
    RECT bounds;
    if (FAILED(DwmGetWindowAttribute(handle, DWMWA_EXTENDED_FRAME_BOUNDS, &bounds, sizeof bounds))
        && !GetWindowRect(handle, &bounds))
        return window.frameGeometry();
    // Windows counts physical pixels, the screen grab device-independent ones.
    const qreal ratio = window.devicePixelRatioF();
    return QRectF(bounds.left / ratio, bounds.top / ratio, (bounds.right - bounds.left) / ratio,
        (bounds.bottom - bounds.top) / ratio)
        .toAlignedRect();
#else
    return window.frameGeometry();
#endif
}

// The screen's pixels, not a rendering of the widget, so that an open box is in the
// picture. Updates still queued (the last progress lines) are painted first.
bool saveScreen(const QWidget &window, const QString &file)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            widget->repaint();
    }
    // Wine copies what a window painted to the screen only while the event loop runs.
    QTest::qWait(100);
    const QRect area = visibleFrame(window);
    const QPixmap shot = window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    return shot.save(file) || fail(QStringLiteral("cannot save %1").arg(file));
}

bool runAction(MainWindow &window, QAbstractButton *button, const QString &file)
{
    MessageBoxObserver observer;
    bool saved = false;
    observer.setOnMessageBox(
        [&](QMessageBox *box) { saved = QTest::qWaitForWindowExposed(box) && saveScreen(window, file); });
    button->click();
    // The action runs on its own thread: allow for a slow simulated board.
    if (!observer.waitForMessageBoxes(1, 60000))
        return fail(QStringLiteral("no result box after pressing %1").arg(button->objectName()));
    return saved;
}

bool carryOut(MainWindow &window, const QString &step)
{
    const QString kind = step.section(QLatin1Char(':'), 0, 0);
    const QString argument = step.section(QLatin1Char(':'), 1);
    const QString name = argument.section(QLatin1Char('='), 0, 0);
    const QString value = argument.section(QLatin1Char('='), 1);

    if (kind == QLatin1String("shot"))
        return saveScreen(window, argument);
    if (kind == QLatin1String("tab")) {
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("levelTabWidget"));
        auto *page = window.findChild<QWidget *>(argument);
        if (!tabs || !page || tabs->indexOf(page) < 0)
            return fail(QStringLiteral("no level tab %1").arg(argument));
        tabs->setCurrentWidget(page);
        return true;
    }
    if (kind == QLatin1String("set")) {
        auto *edit = window.findChild<QLineEdit *>(name);
        if (!edit)
            return fail(QStringLiteral("no line edit %1").arg(name));
        edit->setText(value);
        return true;
    }
    if (kind == QLatin1String("run")) {
        auto *button = window.findChild<QAbstractButton *>(name);
        if (!button || value.isEmpty())
            return fail(QStringLiteral("no button %1, or no file").arg(name));
        return runAction(window, button, value);
    }
    return fail(QStringLiteral("unknown step %1").arg(step));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Photographs Korvane's window.\n\n") + QLatin1String(usage));
    parser.addHelpOption();
    const QCommandLineOption appDirectory(QStringLiteral("app-dir"),
        QStringLiteral("Where config.json and the log directory are, instead of beside this program."),
        QStringLiteral("dir"));
    parser.addOption(appDirectory);
    parser.addPositionalArgument(QStringLiteral("steps"), QStringLiteral("What to do, in order."));
    parser.process(application);
    if (parser.isSet(appDirectory))
        AppPaths::overrideApplicationDirectory(parser.value(appDirectory));

    // The translation is chosen as the executable chooses it; the script checks the choice.
    QTranslator translator;
    QTranslator qtTranslator;
    const QStringList uiLanguages = QLocale::system().uiLanguages();
    const bool translated = installTranslationsFor(translator, qtTranslator, uiLanguages);
    // The style too: on Windows it depends on the platform plug-in and the style plug-ins found.
    std::printf("interface languages: %s; translation: %s; style: %s\n",
        qPrintable(uiLanguages.join(QLatin1Char(' '))), translated ? qPrintable(translator.language()) : "none",
        qPrintable(QApplication::style()->name()));

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return fail(QStringLiteral("the window did not show")), 1;
    for (const QString &step : parser.positionalArguments()) {
        if (!carryOut(window, step))
            return 1;
    }
    window.close();
    // Everything is saved; flushed at once, so that a caller sees it even if ending hangs.
    std::printf("done\n");
    std::fflush(stdout);
    return 0;
}
