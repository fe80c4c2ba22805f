#include "actionlimits.h"
#include "exitcodes.h"
#include "filecontent.h"
#include "threadworker.h"

#include "ZVUpgrade_DLL.h"

#include <QDebug>

// High level: an OEM key file written as it is under the chosen key index; the
// plug-in takes no part.
ThreadWorker::FinalLine ThreadWorker::highAction()
{
    qDebug() << "high action in";
    traceRecord.keyIndex = keyIndex;

    FileContent key;
    if (key.read(keyFile, isValidHighKeySize) != FileContent::Status::Read) {
        qDebug() << "failed to read key file";
        return fail(ExitCode::ReadKeyFileFailed, tr("read key file...fail"));
    }
    traceRecord.keyFingerprint = Trace::keyFingerprint(key.bytesView());

    progress(tr("write oem key..."));
    if (ZV_WriteProofKey(key.data(), static_cast<uint16_t>(key.size()), keyIndex, 0) == 0) {
        qDebug() << "failed to write oem key";
        return fail(ExitCode::WriteProofKeyFailed, tr("write oem key...fail"));
    }
    return { tr("high action done"), false };
}
