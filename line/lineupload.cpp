#include "lineupload.h"

#include "linedatabase.h"
#include "tracerecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

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
    QSaveFile file(cursorPath(traceDirectory));
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(object).toJson()) >= 0
        && file.commit();
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
    progress.offset = offset;
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
        progress.offset = line.end;
    }
    progress.complete = true;
    return progress;
}

} // namespace LineUpload
