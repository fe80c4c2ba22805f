#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>

// One call recorded by the recording test plug-in (plugins/test/testplugin.h).
struct PluginJournalEntry
{
    QString call;
    QString name; // parameter name; empty for calls without one
    qint64 size = -1; // buffer length: the parameter, or the output area; -1 when none
    QByteArray data; // the parameter's bytes, or the output area after the call
    QJsonValue value; // addUintParam / addBoolParam / addStringParam value
    qint64 result = 0;
};

// Points the recording plug-in at a journal file for the lifetime of this object
// (KORVANE_TEST_PLUGIN_JOURNAL) and reads it back.
class PluginJournal
{
public:
    explicit PluginJournal(const QString &path);
    ~PluginJournal();
    PluginJournal(const PluginJournal &) = delete;
    PluginJournal &operator=(const PluginJournal &) = delete;

    QString path() const { return journalPath; }

    // The calls so far, oldest first. No file yet means no calls. A line that is not
    // a journal object makes the read fail: ok is then false and the list stops there.
    QList<PluginJournalEntry> entries(bool *ok = nullptr) const;
    QStringList calls() const;
    bool clear() const;

private:
    QString journalPath;
    QByteArray previousPath;
};

// What the recording plug-in writes into an output area of outputSize bytes for the
// given plaintext, computed here independently of the plug-in.
QByteArray testPluginOutput(const QByteArray &plaintext, qsizetype outputSize);
