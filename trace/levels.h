#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The three levels of a proof action by number (1 Basic, 2 Middle, 3 High, as the worker
// numbers them) and by the name that trace records, korvane-cli's commands and
// korvane-trace's summary use.
namespace Levels {

constexpr int basic = 1;
constexpr int middle = 2;
constexpr int high = 3;

// The names in the order of their numbers.
const QStringList &names();
// Empty for a number that is no level.
QString name(int level);
std::optional<int> parse(QStringView name);

} // namespace Levels
