#pragma once

#include "pluginentries.h"

#include <QByteArray>
#include <QString>

class TestEnvironment;

// Whether the library file at path is mapped into this process right now, asked of
// the operating system rather than of QLibrary, whose own bookkeeping is under test.
bool isModuleMapped(const QString &path);

// A copy of the recording plug-in in the test's directory: a module distinct from
// every other, so one test's modules never meet another's.
QString copyOfRecordingPlugin(const TestEnvironment &environment, const QString &name);

// The table's nine pointers as bytes, to tell whether a load touched it.
QByteArray entryTableBytes(const PluginEntryTable &table);
