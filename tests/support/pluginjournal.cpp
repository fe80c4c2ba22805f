#include "pluginjournal.h"

#include "testplugin.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const char journalVariable[] = "KORVANE_TEST_PLUGIN_JOURNAL";
}

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

QList<PluginJournalEntry> PluginJournal::entries(bool *ok) const
{
    QList<PluginJournalEntry> result;
    if (ok)
        *ok = true;
    QFile file(journalPath);
    if (!file.exists())
        return result;
    if (!file.open(QIODevice::ReadOnly)) {
        if (ok)
            *ok = false;
        return result;
    }
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.value(QLatin1String("call")).isString()) {
            qWarning("malformed plug-in journal line: %s", line.constData());
            if (ok)
                *ok = false;
            break;
        }
        PluginJournalEntry entry;
        entry.call = object.value(QLatin1String("call")).toString();
        entry.name = object.value(QLatin1String("name")).toString();
        entry.size = object.value(QLatin1String("size")).toInteger(-1);
        entry.data = QByteArray::fromHex(object.value(QLatin1String("data")).toString().toLatin1());
        entry.value = object.value(QLatin1String("value"));
        entry.result = object.value(QLatin1String("result")).toInteger();
        result.append(entry);
    }
    return result;
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
    QByteArray output(outputSize, '\0');
    for (qsizetype i = 0; i < outputSize; ++i) {
        const char plain = i < plaintext.size() ? plaintext.at(i) : '\0';
        output[i] = char(plain ^ KORVANE_TEST_PLUGIN_MASK);
    }
    return output;
}
