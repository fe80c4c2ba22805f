#pragma once

#include <QByteArrayView>
#include <QFile>

// Writes bytes at the end of an open file and returns only once the system reports
// them on the disk, so a record that was reported written survives a power cut.
bool appendDurably(QFile &file, QByteArrayView bytes);

// Has a directory's entries on the disk: a file created in it survives a power cut.
// Only needed where the system keeps directory entries apart (not on Windows).
bool syncDirectory(const QString &path);
