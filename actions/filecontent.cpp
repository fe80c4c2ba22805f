#include "filecontent.h"

#include <QFile>
#include <QFileInfo>

FileContent::~FileContent()
{
    wipe();
}

FileContent::Status FileContent::read(const QString &path, const std::function<bool(qint64)> &sizeAccepted)
{
    wipe();
    sizeAtOpen = -1;
    // Opening a named pipe or a device would wait for a writer that never comes and
    // hold the action, and with it the window, for good: only regular files are read.
    if (!QFileInfo(path).isFile())
        return Status::Unreadable;
    // Unbuffered: the bytes go straight into our buffer and leave no copy in QIODevice's.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || file.isSequential())
        return Status::Unreadable;
    sizeAtOpen = file.size();
    if (!sizeAccepted(sizeAtOpen))
        return Status::SizeRefused;

    // Sized once before reading, so no reallocation leaves key bytes behind.
    bytes.resize(static_cast<qsizetype>(sizeAtOpen));
    char extra = 0;
    if (file.read(bytes.data(), sizeAtOpen) != sizeAtOpen || file.read(&extra, 1) != 0) {
        // Shorter or longer than it said it was: changed while being read.
        wipe();
        return Status::Unreadable;
    }
    return Status::Read;
}

void FileContent::wipe()
{
    if (bytes.isEmpty())
        return;
    // Volatile stores, so that zeroing memory about to be freed is not optimised away.
    volatile char *p = bytes.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        p[i] = 0;
    bytes = QByteArray();
}
