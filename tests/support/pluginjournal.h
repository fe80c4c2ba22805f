#pragma once

#include <QByteArray>
#include <QStringList>

// One call recorded by the recording test plug-in (plugins/test/testplugin.h).
struct PluginJournalEntry
{
    QString call; // empty for a line that is not a journal object
    QString name; // parameter name; empty for calls without one
    qint64 size = -1; // buffer length: the parameter, or the output area; -1 when none
    QByteArray data; // the parameter's bytes, or the output area after the call
    qint64 result = 0;
};

// Points the recording plug-in at a journal file for the lifetime of this object
// (KORVANE_TEST_PLUGIN_JOURNAL) and reads it back.
class PluginJournal
{
public:
    explicit PluginJournal(const QString &path);
    ~PluginJournal();
    Q_DISABLE_COPY(PluginJournal)

    // The calls so far, oldest first; no file yet means no calls.
    QList<PluginJournalEntry> entries() const;
    QStringList calls() const;
    bool clear() const;

private:
    QString journalPath;
    QByteArray previousPath;
};

// What the recording plug-in writes into an output area of outputSize bytes for the
// given plaintext, computed here independently of the plug-in.
QByteArray testPluginOutput(const QByteArray &plaintext, qsizetype outputSize);
