#pragma once

#include "korvane_plugin.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

// The whole content of a key or data file, read once. The file is opened read-only
// and never created. The bytes may be key material, so they are overwritten with
// zeros before their memory is released.
class FileContent
{
public:
    enum class Status { Read, Unreadable, SizeRefused };

    FileContent() = default;
    ~FileContent();
    Q_DISABLE_COPY_MOVE(FileContent)

    // Reads the file at path whole when sizeAccepted approves its current size.
    Status read(const QString &path, const std::function<bool(qint64)> &sizeAccepted);

    // The size the file had when it was opened; -1 when it could not be opened.
    qint64 fileSize() const { return sizeAtOpen; }

    qsizetype size() const { return bytes.size(); }
    // A view for the plug-in or the device library, valid while this object holds the bytes.
    uint8_t *data() { return reinterpret_cast<uint8_t *>(bytes.data()); }
    Buffer_T view() { return Buffer_T { data(), static_cast<uint32_t>(bytes.size()) }; }
    QByteArrayView bytesView() const { return bytes; }

    // Zeroes the bytes and releases them.
    void wipe();

private:
    QByteArray bytes;
    qint64 sizeAtOpen = -1;
};
