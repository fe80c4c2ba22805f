#include "pluginloader.h"

#include "pluginentries.h"

#include <QFileInfo>
#include <QLibrary>

#include <array>

namespace {

using ResolvedExports = std::array<QFunctionPointer, KORVANE_PLUGIN_EXPORT_COUNT>;

const char *const exportNames[KORVANE_PLUGIN_EXPORT_COUNT] = KORVANE_PLUGIN_EXPORT_NAMES;

PluginEntryTable toEntryTable(const ResolvedExports &resolved)
{
    PluginEntryTable table;
    table.getProofLevel = reinterpret_cast<korvane_getProofLevel_fn>(resolved[0]);
    table.getErrorCode = reinterpret_cast<korvane_getErrorCode_fn>(resolved[1]);
    table.addUintParam = reinterpret_cast<korvane_addUintParam_fn>(resolved[2]);
    table.addBoolParam = reinterpret_cast<korvane_addBoolParam_fn>(resolved[3]);
    table.addBufferParam = reinterpret_cast<korvane_addBufferParam_fn>(resolved[4]);
    table.addStringParam = reinterpret_cast<korvane_addStringParam_fn>(resolved[5]);
    table.doBasicEncrypt = reinterpret_cast<korvane_doBasicEncrypt_fn>(resolved[6]);
    table.doMiddleEncrypt = reinterpret_cast<korvane_doMiddleEncrypt_fn>(resolved[7]);
    table.doHighEncrypt = reinterpret_cast<korvane_doHighEncrypt_fn>(resolved[8]);
    return table;
}

PluginLoadResult loadFailed()
{
    PluginLoadResult result;
    result.kind = PluginLoadResult::Kind::LoadFailed;
    result.logLine = QStringLiteral("loading dll failed");
    return result;
}

PluginLoadResult missingExport(const char *name, qint32 proofLevel)
{
    PluginLoadResult result;
    result.kind = PluginLoadResult::Kind::MissingExport;
    result.missingExport = QString::fromLatin1(name);
    result.proofLevel = proofLevel;
    result.logLine = QStringLiteral("Not found %1 in the dll").arg(result.missingExport);
    return result;
}

} // namespace

PluginLoadResult loadPluginLibrary(const QString &path, QLibrary &kept)
{
    // The system's loader opens the file as any reader does: a named pipe or a device
    // would hold the program for good, a stop request included.
    const QFileInfo file(path);
    if (!file.isFile())
        return loadFailed();

    // Absolute, or the system would look a bare file name up in its library path
    // instead of the working directory it was found in.
    const QString libraryPath = file.absoluteFilePath();

    // QLibrary objects given the same file name share one load state, and an unload
    // through any of them unmaps the module for all. A probe that finds its module
    // already loaded is sharing it with its holder and must never unload it.
    QLibrary probe(libraryPath);
    const bool heldElsewhere = probe.isLoaded();
    auto releaseProbe = [&] {
        if (!heldElsewhere)
            probe.unload();
    };

    if (!probe.load())
        return loadFailed();

    ResolvedExports resolved {};
    resolved[0] = probe.resolve(exportNames[0]);
    if (!resolved[0]) {
        releaseProbe();
        return missingExport(exportNames[0], 0);
    }
    const qint32 proofLevel = reinterpret_cast<korvane_getProofLevel_fn>(resolved[0])();

    for (int i = 1; i < KORVANE_PLUGIN_EXPORT_COUNT; ++i) {
        resolved[i] = probe.resolve(exportNames[i]);
        if (!resolved[i]) {
            releaseProbe();
            return missingExport(exportNames[i], proofLevel);
        }
    }

    // kept already shares the probe's state when path is the module it holds: an
    // unload now would unmap the module under the table, so it is left as it is.
    const bool keptIsProbe = heldElsewhere && kept.isLoaded() && kept.fileName() == probe.fileName();
    if (!keptIsProbe) {
        // The probe holds the new module, so the old one can go first.
        if (kept.isLoaded())
            kept.unload();
        kept.setFileName(libraryPath);
        kept.load(); // joins the probe's load state
    }
    pluginEntryTable() = toEntryTable(resolved);

    // The probe is destroyed without unloading: kept alone holds the module now.
    PluginLoadResult result;
    result.kind = PluginLoadResult::Kind::Accepted;
    result.proofLevel = proofLevel;
    return result;
}
