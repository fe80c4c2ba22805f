#include "runchecks.h"

#include "actionlimits.h"
#include "korvane_plugin.h"
#include "pluginloader.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

const QString maskromState = QStringLiteral("Maskrom");
const QString loaderState = QStringLiteral("Loader");

// The size as the file system reports it now; 0 for a file that does not exist.
qint64 fileSize(const QString &path)
{
    return QFileInfo(path).size();
}

std::optional<Refusal> basicRefusal(const RunRequest &request)
{
    if (!(request.announcedLevels & KORVANE_PROOF_BASIC))
        return Refusal::BasicNotAnnounced;
    if (!request.keyFile.isEmpty() && !isValidBasicKeySize(fileSize(request.keyFile)))
        return Refusal::KeyFileSize;
    if (!request.deviceStatus.contains(maskromState) && !request.deviceStatus.contains(loaderState))
        return Refusal::NoDevice;
    return std::nullopt;
}

std::optional<Refusal> middleRefusal(const RunRequest &request)
{
    if (!(request.announcedLevels & KORVANE_PROOF_MIDDLE))
        return Refusal::MiddleNotAnnounced;
    if (request.dataFile.isEmpty())
        return Refusal::NoPlainFile;
    // A missing or empty file passes here; one the library's 16-bit length cannot carry does not.
    if (!isValidProofDataSize(fileSize(request.dataFile)))
        return Refusal::PlainFileSize;
    if (!request.deviceStatus.contains(loaderState))
        return Refusal::LoaderOnly;
    return std::nullopt;
}

std::optional<Refusal> highRefusal(const RunRequest &request)
{
    if (!(request.announcedLevels & KORVANE_PROOF_HIGH))
        return Refusal::HighNotAnnounced;
    if (request.keyFile.isEmpty())
        return Refusal::NoKeyFile;
    if (!isValidHighKeySize(fileSize(request.keyFile)))
        return Refusal::KeyFileSize;
    if (!request.deviceStatus.contains(loaderState))
        return Refusal::LoaderOnly;
    return std::nullopt;
}

} // namespace

const char *refusalText(Refusal refusal)
{
    switch (refusal) {
    case Refusal::PluginNotLoaded:
        return QT_TRANSLATE_NOOP("MainWindow", "Dll is not loaded!");
    case Refusal::BasicNotAnnounced:
        return QT_TRANSLATE_NOOP("MainWindow", "Dll did not support to do basic action!");
    case Refusal::MiddleNotAnnounced:
        return QT_TRANSLATE_NOOP("MainWindow", "Dll did not support to do middle action!");
    case Refusal::HighNotAnnounced:
        return QT_TRANSLATE_NOOP("MainWindow", "Dll did not support to do high action!");
    case Refusal::KeyFileSize:
        return QT_TRANSLATE_NOOP("MainWindow", "size invalid for key file!");
    case Refusal::NoPlainFile:
        return QT_TRANSLATE_NOOP("MainWindow", "No plain file!");
    case Refusal::PlainFileSize:
        return QT_TRANSLATE_NOOP("MainWindow", "size invalid for plain file!");
    case Refusal::NoKeyFile:
        return QT_TRANSLATE_NOOP("MainWindow", "No key file!");
    case Refusal::NoDevice:
        return QT_TRANSLATE_NOOP("MainWindow", "no available device!");
    case Refusal::LoaderOnly:
        return QT_TRANSLATE_NOOP("MainWindow", "action can only work on the loader device!");
    case Refusal::PluginLoadFailed:
        return QT_TRANSLATE_NOOP("MainWindow", "Failed to load %1!");
    case Refusal::PluginInvalid:
        return QT_TRANSLATE_NOOP("MainWindow", "%1 is invalid!");
    }
    return "";
}

bool isDeviceRefusal(Refusal refusal)
{
    return refusal == Refusal::NoDevice || refusal == Refusal::LoaderOnly;
}

std::optional<Refusal> runRefusal(const RunRequest &request)
{
    if (!request.pluginLoaded)
        return Refusal::PluginNotLoaded;
    switch (request.level) {
    case RUN_ACTION_BASIC:
        return basicRefusal(request);
    case RUN_ACTION_MIDDLE:
        return middleRefusal(request);
    case RUN_ACTION_HIGH:
        return highRefusal(request);
    }
    return std::nullopt;
}

std::optional<Refusal> pluginRefusal(const PluginLoadResult &result)
{
    switch (result.kind) {
    case PluginLoadResult::Kind::Accepted:
        return std::nullopt;
    case PluginLoadResult::Kind::LoadFailed:
        return Refusal::PluginLoadFailed;
    case PluginLoadResult::Kind::MissingExport:
        return Refusal::PluginInvalid;
    }
    return Refusal::PluginLoadFailed;
}

QString boardOf(const QString &deviceStatus)
{
    if (deviceStatus.contains(maskromState))
        return maskromState;
    if (deviceStatus.contains(loaderState))
        return loaderState;
    return QString();
}
