#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// The level of one proof action.
enum RunAction_T : qint32 {
    RUN_ACTION_BASIC = 1,
    RUN_ACTION_MIDDLE = 2,
    RUN_ACTION_HIGH = 3,
};
using RunAction = RunAction_T;

// The level's name in trace records and in korvane-cli's output; empty for no level.
inline QString levelName(RunAction_T level)
{
    switch (level) {
    case RUN_ACTION_BASIC:
        return QStringLiteral("basic");
    case RUN_ACTION_MIDDLE:
        return QStringLiteral("middle");
    case RUN_ACTION_HIGH:
        return QStringLiteral("high");
    }
    return QString();
}

Q_DECLARE_METATYPE(RunAction_T)
