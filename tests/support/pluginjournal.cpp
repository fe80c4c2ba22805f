#include "pluginjournal.h"

#include "testplugin.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

constexpr char journalVariable[] = "KORVANE_TEST_PLUGIN_JOURNAL";

PluginJournal::PluginJournal(const QString &path)
    : journalPath(path)
    , previousPath(qgetenv(journalVariable))
{
    qputenv(journalVariable, QFile::encodeName(path));
}

PluginJournal::~PluginJournal()
{
    if (previousPath.isNull())
        qunsetenv(journalVariable);
    else
        qputenv(journalVariable, previousPath);
}

QList<PluginJournalEntry> PluginJournal::entries() const
{
    QList<PluginJournalEntry> entries;
    QFile file(journalPath);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    while (!file.atEnd()) {
        const QJsonObject line = QJsonDocument::fromJson(file.readLine()).object();
        entries.append({ line["call"].toString(), line["name"].toString(), line["size"].toInteger(-1),
            QByteArray::fromHex(line["data"].toString().toLatin1()), line["result"].toInteger() });
    }
    return entries;
}

QStringList PluginJournal::calls() const
{
    QStringList names;
    for (const PluginJournalEntry &entry : entries())
        names.append(entry.call);
    return names;
}

bool PluginJournal::clear() const
{
    return !QFile::exists(journalPath) || QFile::remove(journalPath);
}

QByteArray testPluginOutput(const QByteArray &plaintext, qsizetype outputSize)
{
    QByteArray output = plaintext.left(outputSize).leftJustified(outputSize, '\0');
    for (char &byte : output)
        byte = char(byte ^ KORVANE_TEST_PLUGIN_MASK);
    return output;
}
