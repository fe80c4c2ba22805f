#include "runchecks.h"

#include "actionlimits.h"
#include "korvane_plugin.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

const QString maskromState = QStringLiteral("Maskrom");
const QString loaderState = QStringLiteral("Loader");

// The device check's refusals, which the next board may lift.
const char *const noDevice = QT_TRANSLATE_NOOP("MainWindow", "no available device!");
const char *const loaderOnly = QT_TRANSLATE_NOOP("MainWindow", "action can only work on the loader device!");

// The size as the file system reports it now; 0 for a file that does not exist.
qint64 fileSize(const QString &path)
{
    return QFileInfo(path).size();
}

const char *basicRefusal(const RunRequest &request)
{
    if (!(request.announcedLevels & KORVANE_PROOF_BASIC))
        return QT_TRANSLATE_NOOP("MainWindow", "Dll did not support to do basic action!");
    if (!request.keyFile.isEmpty() && !isValidBasicKeySize(fileSize(request.keyFile)))
        return QT_TRANSLATE_NOOP("MainWindow", "size invalid for key file!");
    if (!request.deviceStatus.contains(maskromState) && !request.deviceStatus.contains(loaderState))
        return noDevice;
    return nullptr;
}

const char *middleRefusal(const RunRequest &request)
{
    if (!(request.announcedLevels & KORVANE_PROOF_MIDDLE))
        return QT_TRANSLATE_NOOP("MainWindow", "Dll did not support to do middle action!");
    if (request.dataFile.isEmpty())
        return QT_TRANSLATE_NOOP("MainWindow", "No plain file!");
    // A missing or empty file passes here; one the library's 16-bit length cannot carry does not.
    if (!isValidProofDataSize(fileSize(request.dataFile)))
        return QT_TRANSLATE_NOOP("MainWindow", "size invalid for plain file!");
    if (!request.deviceStatus.contains(loaderState))
        return loaderOnly;
    return nullptr;
}

const char *highRefusal(const RunRequest &request)
{
    if (!(request.announcedLevels & KORVANE_PROOF_HIGH))
        return QT_TRANSLATE_NOOP("MainWindow", "Dll did not support to do high action!");
    if (request.keyFile.isEmpty())
        return QT_TRANSLATE_NOOP("MainWindow", "No key file!");
    if (!isValidHighKeySize(fileSize(request.keyFile)))
        return QT_TRANSLATE_NOOP("MainWindow", "size invalid for key file!");
    if (!request.deviceStatus.contains(loaderState))
        return loaderOnly;
    return nullptr;
}

} // namespace

const char *runRefusal(const RunRequest &request)
{
    if (!request.pluginLoaded)
        return QT_TRANSLATE_NOOP("MainWindow", "Dll is not loaded!");
    switch (request.level) {
    case RUN_ACTION_BASIC:
        return basicRefusal(request);
    case RUN_ACTION_MIDDLE:
        return middleRefusal(request);
    case RUN_ACTION_HIGH:
        return highRefusal(request);
    }
    return nullptr;
}

bool isDeviceRefusal(const char *refusal)
{
    return refusal == noDevice || refusal == loaderOnly;
}

QString boardOf(const QString &deviceStatus)
{
    if (deviceStatus.contains(maskromState))
        return maskromState;
    if (deviceStatus.contains(loaderState))
        return loaderState;
    return QString();
}
