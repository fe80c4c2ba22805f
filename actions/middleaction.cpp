#include "actionlimits.h"
#include "exitcodes.h"
#include "filecontent.h"
#include "pluginentries.h"
#include "threadworker.h"

#include "ZVUpgrade_DLL.h"

#include <QDebug>

// Middle level: a data file, encrypted by the plug-in into an area of the same
// length, written as proof data.
ThreadWorker::FinalLine ThreadWorker::middleAction()
{
    qDebug() << "middle action in";
    const PluginEntryTable &plugin = pluginEntryTable();

    FileContent data;
    switch (data.read(plainFile, isValidProofDataSize)) {
    case FileContent::Status::Read:
        break;
    case FileContent::Status::Unreadable:
        qDebug() << "failed to read data file";
        return fail(ExitCode::ReadDataFileFailed, tr("read data file...fail"));
    case FileContent::Status::SizeRefused:
        // A cut length must never reach the library's 16-bit length.
        qDebug() << "invalid data size,size=" << data.fileSize();
        return fail(ExitCode::InvalidDataSize, tr("read data file...fail"));
    }
    traceRecord.dataSize = data.size();
    traceRecord.dataSha256 = Trace::sha256Hex(data.bytesView());

    progress(tr("encode data..."));
    plugin.addBufferParam(KORVANE_PARAM_PLAINTEXT, data.view());
    QByteArray encrypted(data.size(), '\0');
    const auto length = static_cast<uint32_t>(encrypted.size());
    auto *encryptedBytes = reinterpret_cast<uint8_t *>(encrypted.data());
    if (plugin.doMiddleEncrypt(Buffer_T { encryptedBytes, length }) == 0) {
        qDebug() << "failed to encrypt data";
        return fail(ExitCode::EncryptDataFailed, tr("encode data...fail"));
    }

    progress(tr("write encoded data..."));
    if (ZV_WriteProofData(encryptedBytes, static_cast<uint16_t>(length), 0) == 0) {
        qDebug() << "failed to write encoded data";
        return fail(ExitCode::WriteProofDataFailed, tr("write encoded data...fail"));
    }
    return { tr("middle action done"), false };
}
