#include "levels.h"

namespace Levels {

const QStringList &names()
{
    static const QStringList all { QStringLiteral("basic"), QStringLiteral("middle"), QStringLiteral("high") };
    return all;
}

QString name(int level)
{
    return level >= basic && level <= high ? names().at(level - basic) : QString();
}

std::optional<int> parse(QStringView name)
{
    const qsizetype index = names().indexOf(name);
    if (index < 0)
        return std::nullopt;
    return basic + int(index);
}

} // namespace Levels
