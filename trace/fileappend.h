#pragma once

#include <QByteArrayView>
#include <QFile>

// Appends a whole line to the file at path (made if missing) with one write that lands at
// the file's end as it is then, also when other programs append to it at the same time.
bool appendWholeLine(const QString &path, QByteArrayView line);

// Writes bytes at the end of an open file and returns only once the system reports
// them on the disk, so a record that was reported written survives a power cut.
bool appendDurably(QFile &file, QByteArrayView bytes);

// Has a directory's entries on the disk: a file created in it survives a power cut.
// Only needed where the system keeps directory entries apart (not on Windows).
bool syncDirectory(const QString &path);
