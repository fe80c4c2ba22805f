#pragma once

#include "levels.h"

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

static_assert(RUN_ACTION_BASIC == Levels::basic && RUN_ACTION_MIDDLE == Levels::middle && RUN_ACTION_HIGH == Levels::high);

// The level's name in trace records and in korvane-cli's output; empty for no level.
inline QString levelName(RunAction_T level)
{
    return Levels::name(level);
}

Q_DECLARE_METATYPE(RunAction_T)
