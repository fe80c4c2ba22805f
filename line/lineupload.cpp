#include "lineupload.h"

#include "linedatabase.h"
#include "tracerecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Puts source in target's place in one step: a reader finds the old file or the new one,
// never a part of either. The one place that differs between the systems.
bool replaceFile(const QString &source, const QString &target)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(source).utf16()),
               reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(target).utf16()),
               MOVEFILE_REPLACE_EXISTING)
        != 0;
#else
    return std::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0;
#endif
}

} // namespace

namespace LineUpload {

QList<WaitingLine> waitingLines(const QString &path, qint64 offset, QList<qint64> *skipped)
{
    QList<WaitingLine> waiting;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return waiting;
    // A file that became shorter than the cursor was replaced: all of it waits again, and
    // the server answers "already" for what it has.
    if (offset < 0 || offset > file.size())
        offset = 0;
    qint64 number = 0;
    if (skipped && offset > 0) {
        // Line numbers count from the start of the file; only push reports them.
        number = file.read(offset).count('\n');
    } else if (!file.seek(offset)) {
        return waiting;
    }
    const QByteArray content = file.readAll();
    qsizetype start = 0;
    while (start < content.size()) {
        const qsizetype lineEnd = content.indexOf('\n', start);
        if (lineEnd < 0)
            break; // still being written, or cut off: not complete
        ++number;
        const QByteArrayView line(content.constData() + start, lineEnd - start);
        if (Trace::parseLine(line).record) {
            waiting.append({ line.toByteArray(), offset + lineEnd + 1, number });
        } else if (skipped && !Trace::isCutOffLine(line)) {
            skipped->append(number);
        }
        start = lineEnd + 1;
    }
    return waiting;
}

QString cursorPath(const QString &traceDirectory)
{
    return QDir(traceDirectory).filePath(QStringLiteral("line-upload.json"));
}

QHash<QString, qint64> readCursor(const QString &traceDirectory)
{
    QHash<QString, qint64> offsets;
    QFile file(cursorPath(traceDirectory));
    if (!file.open(QIODevice::ReadOnly))
        return offsets;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const qint64 offset = it.value().toInteger(-1);
        if (offset >= 0 && Trace::dateOfFileName(it.key()).isValid())
            offsets.insert(it.key(), offset);
    }
    return offsets;
}

bool writeCursor(const QString &traceDirectory, const QHash<QString, qint64> &offsets)
{
    QJsonObject object;
    for (auto it = offsets.begin(); it != offsets.end(); ++it)
        object.insert(it.key(), it.value());
    const QByteArray text = QJsonDocument(object).toJson();
    // Replaced, but not flushed to disk: that cost as much as the upload itself, and a
    // cursor lost to a power cut only has its records sent again, which the server answers
    // "already". One cut short is no JSON object and reads as absent.
    const QString path = cursorPath(traceDirectory);
    QFile file(QStringLiteral("%1.%2").arg(path).arg(
        QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const bool written = file.write(text) == text.size() && file.flush();
    file.close();
    if (written && replaceFile(file.fileName(), path))
        return true;
    file.remove();
    return false;
}

qint64 countWaiting(const QString &traceDirectory, const QHash<QString, qint64> &offsets,
    const std::function<bool()> &keepGoing)
{
    qint64 waiting = 0;
    for (const QString &path : Trace::filesIn(traceDirectory)) {
        if (keepGoing && !keepGoing())
            break;
        const QString name = QFileInfo(path).fileName();
        // Fully uploaded files cost a seek to their end, not a read.
        const qint64 offset = offsets.value(name, 0);
        if (offset > 0 && offset == QFileInfo(path).size())
            continue;
        waiting += waitingLines(path, offset).size();
    }
    return waiting;
}

Answer uploadLine(LineDatabase &database, const QString &day, const QByteArray &line)
{
    Answer answer;
    const LineDatabase::Result result
        = database.exec(QStringLiteral("SELECT outcome, why FROM korvane.upload_record($1::date, $2)"),
            { day, QString::fromUtf8(line) });
    if (!result.ok) {
        answer.why = result.error;
        answer.unreachable = result.sqlState.isEmpty() || !database.isConnected();
        return answer;
    }
    const QString outcome = result.rows.value(0).value(0);
    answer.why = result.rows.value(0).value(1);
    if (outcome == QLatin1String("stored")) {
        answer.outcome = Answer::Outcome::Stored;
    } else if (outcome == QLatin1String("already")) {
        answer.outcome = Answer::Outcome::Already;
    } else if (outcome == QLatin1String("broken")) {
        answer.outcome = Answer::Outcome::Broken;
    } else {
        answer.why = QStringLiteral("unexpected answer from the line database: %1").arg(outcome);
    }
    return answer;
}

FileProgress uploadFile(LineDatabase &database, const QString &path, qint64 offset,
    const std::function<bool()> &keepGoing,
    const std::function<void(const WaitingLine &, const Answer &)> &answered)
{
    FileProgress progress;
    const QDate day = Trace::dateOfFileName(QFileInfo(path).fileName());
    if (!day.isValid()) {
        progress.failure.why = QStringLiteral("not a trace file name: %1").arg(QFileInfo(path).fileName());
        return progress;
    }
    const QString dayText = day.toString(Qt::ISODate);
    for (const WaitingLine &line : waitingLines(path, offset)) {
        if (keepGoing && !keepGoing()) {
            progress.failure.why = QStringLiteral("stopped");
            return progress;
        }
        const Answer answer = uploadLine(database, dayText, line.line);
        if (answered)
            answered(line, answer);
        switch (answer.outcome) {
        case Answer::Outcome::Stored:
            ++progress.stored;
            break;
        case Answer::Outcome::Already:
            ++progress.already;
            break;
        case Answer::Outcome::Broken:
            ++progress.broken;
            break;
        case Answer::Outcome::Failed:
            progress.failure = answer;
            return progress;
        }
    }
    progress.complete = true;
    return progress;
}

} // namespace LineUpload
