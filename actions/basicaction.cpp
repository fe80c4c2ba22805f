#include "actionlimits.h"
#include "exitcodes.h"
#include "filecontent.h"
#include "pluginentries.h"
#include "threadworker.h"

#include "ZVUpgrade_DLL.h"

#include <QDebug>

// Basic level: the CPU id from the OTP area, encrypted by the plug-in (under the
// user's AES key when one was chosen), written to the vendor RPMB area.
ThreadWorker::FinalLine ThreadWorker::basicAction()
{
    qDebug() << "basic action in";
    const PluginEntryTable &plugin = pluginEntryTable();

    // The key is read before any device or plug-in call, so that a key file that
    // vanished or changed since the click never leads to encrypting under the
    // plug-in's default key.
    FileContent key;
    if (!keyFile.isEmpty() && key.read(keyFile, isValidBasicKeySize) != FileContent::Status::Read) {
        qDebug() << "failed to read key file";
        return fail(ExitCode::ReadKeyFileFailed, tr("read key file...fail"));
    }
    if (!keyFile.isEmpty())
        traceRecord.keyFingerprint = Trace::keyFingerprint(key.bytesView());

    uint8_t otp[ZV_OTP_LENGTH] = {};
    uint8_t encrypted[16] = {};

    progress(tr("read cpuid..."));
    if (ZV_ReadOtpData(otp, ZV_OTP_LENGTH, 0, 0) == 0) {
        qDebug() << "failed to read cpuid";
        return fail(ExitCode::ReadCpuIdFailed, tr("read cpuid...fail"));
    }
    // Byte 0 counts itself and the id bytes after it.
    const int count = static_cast<int8_t>(otp[0]);
    if (count < 1 || count > ZV_OTP_LENGTH) {
        qDebug() << "invalid cpuid size,size=" << count;
        return fail(ExitCode::InvalidCpuIdSize, tr("read cpuid...fail"));
    }
    const uint32_t idLength = static_cast<uint32_t>(count - 1);
    const QString cpuId = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(otp + 1), idLength).toHex());
    traceRecord.cpuId = cpuId;

    if (const std::optional<FinalLine> refused = claimCpuId())
        return *refused;

    progress(tr("encode cpuid..."));
    plugin.addBufferParam(KORVANE_PARAM_PLAINTEXT, Buffer_T { otp + 1, idLength });
    if (!keyFile.isEmpty()) {
        plugin.addBufferParam(KORVANE_PARAM_AESKEY, key.view());
        key.wipe();
    }
    if (plugin.doBasicEncrypt(Buffer_T { encrypted, sizeof encrypted }) == 0) {
        qDebug() << "failed to encode cpuid";
        return fail(ExitCode::EncryptCpuIdFailed, tr("encode cpuid...fail"));
    }

    progress(tr("write cpuid..."));
    // Only the id's length of the output goes to the board.
    boardWriteAttempted = true;
    if (ZV_WriteVendorRpmbData(ZV_RPMB_VENDOR_CPUID, 0, encrypted, static_cast<uint16_t>(idLength), 0) == 0) {
        qDebug() << "failed to write cpuid";
        return fail(ExitCode::WriteCpuIdFailed, tr("write cpuid...fail"));
    }
    return { tr("basic action done"), false };
}
