#pragma once

#include <QString>
#include <QtGlobal>

class QLibrary;

// What became of one attempt to load an encryption plug-in.
struct PluginLoadResult
{
    enum class Kind { Accepted, LoadFailed, MissingExport };

    Kind kind = Kind::LoadFailed;
    // The first export that could not be resolved, for MissingExport.
    QString missingExport;
    // getProofLevel's answer as returned, high bits included; 0 when it was not reached.
    qint32 proofLevel = 0;
    // The diagnostic line of a refusal, ready to be logged; empty when accepted.
    QString logLine;

    bool accepted() const { return kind == Kind::Accepted; }
};

// Probes the library at path (a regular file; anything else is refused unopened),
// calls its getProofLevel and resolves the other eight exports in order, stopping at
// the first one missing. Only when all nine resolve does kept take over the module and
// the process-wide entry table receive the nine pointers; a refusal leaves kept and the
// table as they were and releases the probe. An accepted module stays mapped for as
// long as kept holds it, also when path is the one kept already holds; a module that
// kept held before leaves memory only after the new one is loaded.
PluginLoadResult loadPluginLibrary(const QString &path, QLibrary &kept);
