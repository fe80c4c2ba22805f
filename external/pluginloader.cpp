#include "pluginloader.h"

#include "pluginentries.h"

#include <QCoreApplication>
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
    // QLibrary objects given the same file name share one load state, and an unload
    // through any of them unmaps the module for all. A probe that finds its module
    // already loaded is sharing it with its holder and must never unload it.
    QLibrary probe(path);
    const bool heldElsewhere = probe.isLoaded();
    auto releaseProbe = [&] {
        if (!heldElsewhere)
            probe.unload();
    };

    if (!probe.load()) {
        PluginLoadResult result;
        result.kind = PluginLoadResult::Kind::LoadFailed;
        result.logLine = QStringLiteral("loading dll failed");
        return result;
    }

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
        kept.setFileName(path);
        kept.load(); // joins the probe's load state
    }
    pluginEntryTable() = toEntryTable(resolved);

    // The probe is destroyed without unloading: kept alone holds the module now.
    PluginLoadResult result;
    result.kind = PluginLoadResult::Kind::Accepted;
    result.proofLevel = proofLevel;
    return result;
}

const char *pluginRefusalText(const PluginLoadResult &result)
{
    switch (result.kind) {
    case PluginLoadResult::Kind::Accepted:
        return nullptr;
    case PluginLoadResult::Kind::LoadFailed:
        return QT_TRANSLATE_NOOP("MainWindow", "Failed to load %1!");
    case PluginLoadResult::Kind::MissingExport:
        return QT_TRANSLATE_NOOP("MainWindow", "%1 is invalid!");
    }
    return nullptr;
}
