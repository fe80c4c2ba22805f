#pragma once

#include "korvane_plugin.h"

#include <QByteArray>
#include <QString>

// An output area for an encrypt call with guard bytes on both sides, so that a write
// outside the area shows up afterwards. The area starts filled with one byte value.
class GuardedArea
{
public:
    GuardedArea(qsizetype size, char guard, char fill);

    Buffer_T view();
    QByteArray content() const { return storage.mid(GuardSize, areaSize); }

    // The guard bytes that changed, described for a person; empty when none did.
    QString damage() const;

private:
    static constexpr qsizetype GuardSize = 64;

    QByteArray storage;
    qsizetype areaSize;
    char guard;
};
