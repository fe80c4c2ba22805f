#pragma once

#include <QMetaType>
#include <QtGlobal>

// The level of one proof action.
enum RunAction_T : qint32 {
    RUN_ACTION_BASIC = 1,
    RUN_ACTION_MIDDLE = 2,
    RUN_ACTION_HIGH = 3,
};
using RunAction = RunAction_T;

Q_DECLARE_METATYPE(RunAction_T)
