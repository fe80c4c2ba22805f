#pragma once

#include "mainwindow.h"
#include "testbench.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// A Korvane window on a bench of its own (one Loader board, the recording plug-in,
// a 32-byte key and a 1 KiB data file), its Run buttons pressed as an operator would
// and each result box closed as soon as it shows.
class WindowBench : public QObject
{
public:
    enum Level { Basic = 1, Middle = 2, High = 3 };
    static constexpr Level levels[] = { Basic, Middle, High };
    static const char *levelName(Level level);

    WindowBench();
    ~WindowBench() override;

    bool isValid() const { return ready; }
    TestBench &bench() { return *testBench; }

    // Called on the GUI thread when a result box shows, before it is closed.
    void setOnResultBox(std::function<void()> callback) { onResultBox = std::move(callback); }

    // Presses the level's Run button and returns once the window has handled the whole
    // action, the result box included; returns the box's text.
    QString runAction(Level level);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<TestBench> testBench;
    std::unique_ptr<MainWindow> window;
    std::function<void()> onResultBox;
    QString lastBoxText;
    bool boxShown = false;
    bool ready = false;
};
