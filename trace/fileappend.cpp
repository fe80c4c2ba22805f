#include "fileappend.h"

#include <QDir>

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

bool appendWholeLine(const QString &path, QByteArrayView line)
{
#ifdef Q_OS_WIN
    // Qt appends on Windows by seeking to the end once, at open; a handle that may only
    // append has each write land at the end as it is then. Wine finds that end and
    // writes there in two steps (measured: torn lines with two writers), so the write
    // also holds a lock, which the system drops with the handle should the process die.
    const QString nativePath = QDir::toNativeSeparators(path);
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(nativePath.utf16()), FILE_APPEND_DATA,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED wholeFile = {};
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &wholeFile);
    DWORD written = 0;
    const bool appended = locked && WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr)
        && written == DWORD(line.size());
    if (locked)
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &wholeFile);
    CloseHandle(file);
    return appended;
#else
    // O_APPEND: the system puts each write at the end by itself.
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)
        && file.write(line.data(), line.size()) == line.size();
#endif
}

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
