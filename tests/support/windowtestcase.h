#pragma once

#include "pluginjournal.h"
#include "testbench.h"
#include "testenvironment.h"
#include "windowdriver.h"

#include <QObject>

#include <memory>

// The set-up of the tests that drive actions from the window: for each test function an
// application directory of its own with its simulated bench and the plug-in's journal, and
// a window driver; the window must close at the end.
class WindowTestCase : public QObject
{
    Q_OBJECT

protected:
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<TestBench> bench;
    std::unique_ptr<PluginJournal> pluginJournal;
    std::unique_ptr<WindowDriver> driver;

private slots:
    void init();
    void cleanup();
};
