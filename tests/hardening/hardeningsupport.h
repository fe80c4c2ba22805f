#pragma once

#include "mainwindow.h"
#include "messageboxobserver.h"
#include "pluginjournal.h"
#include "testbench.h"
#include "testenvironment.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

// One Korvane window on a bench of its own, the recording plug-in configured, every
// box and dialog answered as an operator would. The journals of the device library
// and of the plug-in tell what reached them.
class WindowUnderTest
{
public:
    WindowUnderTest();
    ~WindowUnderTest();

    bool isValid() const { return environment.isValid(); }
    TestEnvironment &env() { return environment; }
    TestBench &bench() { return testBench; }
    PluginJournal &plugin() { return pluginJournal; }
    MessageBoxObserver &observer() { return boxes; }
    MainWindow &window() { return *mainWindow; }

    // Writes config.json naming the recording plug-in, unless content is given.
    void writeConfig(const QByteArray &content = QByteArray());
    // Opens and shows the window; the calls it made on the way are not counted.
    void open();
    // Closes the window as the operator would; false when it refused.
    bool close();

    template <typename Widget> Widget *widget(const char *name) const
    {
        return mainWindow->findChild<Widget *>(QLatin1String(name));
    }
    void setFile(int level, const QString &path);
    void run(int level);
    // The text of the next message box, which must come from the window with Ok alone;
    // empty when none came.
    QString nextBox();
    QMessageBox::Icon lastBoxIcon() const;

    // The output list: each line's text and whether it is shown as an error.
    QList<QPair<QString, bool>> outputLines() const;
    // The tabs and Browse are enabled and no action holds the window.
    bool isIdle() const;
    // Device library calls since open(), scans and set-up left out, in order.
    QStringList deviceCalls() const;
    // Everything each board has received, by target name.
    QByteArray received(const QString &board, const QString &target) const { return testBench.written(board, target); }
    QStringList targetsReceived(const QString &board) const;

private:
    TestEnvironment environment;
    TestBench testBench;
    PluginJournal pluginJournal;
    MessageBoxObserver boxes;
    std::unique_ptr<MainWindow> mainWindow;
    int journalAtOpen = 0;
    int boxesRead = 0;
};

// The file of the given size, its bytes a pattern that differs from byte to byte.
QByteArray patternBytes(int size, char seed = 0);
