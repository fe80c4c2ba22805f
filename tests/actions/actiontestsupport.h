#pragma once

#include "threadworker.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// What one run of a worker reported, in the order it reported it.
struct ActionRun
{
    struct Line
    {
        QString text;
        bool error = false;
    };

    QList<Line> lines;
    int finishedCount = 0;
    // How many lines had been reported when finished() came.
    int linesAtFinished = -1;
    qint32 exitCode = 0;

    QStringList texts() const;
};

// Runs the worker's process() on the calling thread and records its signals.
ActionRun runAction(RunAction_T level, const QString &plainFile = QString(),
    const QString &keyFile = QString(), quint8 keyIndex = 0);

// The call names of journal entries, in order.
QStringList callNames(const QList<QJsonObject> &journal);
