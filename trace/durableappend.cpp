#include "durableappend.h"

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool flushToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
#else
    return fsync(file.handle()) == 0;
#endif
}

} // namespace

bool appendDurably(QFile &file, QByteArrayView bytes)
{
    if (!file.seek(file.size()))
        return false;
    if (file.write(bytes.data(), bytes.size()) != bytes.size())
        return false;
    return file.flush() && flushToDisk(file);
}

bool syncDirectory(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return true;
#else
    const int descriptor = open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool synced = fsync(descriptor) == 0;
    close(descriptor);
    return synced;
#endif
}
