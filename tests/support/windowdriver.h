#pragma once

#include "mainwindow.h"
#include "messageboxobserver.h"

#include <QPair>
#include <QStringList>

#include <memory>

// The window's output list: each line's text, and whether it is shown as an error (red).
using OutputLines = QList<QPair<QString, bool>>;

// The lines of one action: all on the default background but the last, red for a failure.
OutputLines actionLines(const QStringList &texts, bool failed);
// What a level's successful action shows, step by step (1 Basic, 2 Middle, 3 High).
QStringList doneLines(int level);

// Drives the main window the way an operator does: the widgets by their object names, the
// Run buttons and file edits by level, and each message box as it comes.
class WindowDriver
{
public:
    WindowDriver();
    ~WindowDriver();

    // Makes and shows a window that reads the test's application directory.
    void open();
    // Closes the window once no action is launched any more; false when it stays open.
    bool close();
    MainWindow *window() const { return mainWindow.get(); }
    MessageBoxObserver &observer() { return boxes; }

    template <typename Widget = QWidget> Widget *widget(const char *name) const
    {
        return mainWindow->findChild<Widget *>(QLatin1String(name));
    }
    void setFile(int level, const QString &path);
    void run(int level);
    // The tabs and the plug-in's button take clicks again.
    bool isIdle() const;

    // The next box not yet read: its text when it came from the window, titled "Korvane",
    // with the given icon and the one Ok button; "<box of another form>" otherwise, and a
    // null string when none came.
    QString nextBox(QMessageBox::Icon icon);
    // The next box, as a result: Information for "Action ok.", Critical for anything else.
    QString nextResult();
    int boxesRead() const { return read; }

    // The output list, or nothing when a line has neither the default nor the error background.
    OutputLines outputLines() const;

private:
    MessageBoxObserver boxes;
    std::unique_ptr<MainWindow> mainWindow;
    int read = 0;
};
