#pragma once

#include <QString>

// Where Korvane keeps config.json, its log and trace directories: beside the executable.
namespace AppPaths {

QString applicationDirectory();

// Tests run the window against a temporary directory instead of the build tree.
void overrideApplicationDirectory(const QString &directory);

QString configFilePath();
QString logDirectoryPath();
QString traceDirectoryPath();

} // namespace AppPaths
