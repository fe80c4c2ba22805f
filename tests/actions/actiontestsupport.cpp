#include "actiontestsupport.h"

QStringList ActionRun::texts() const
{
    QStringList result;
    for (const Line &line : lines)
        result.append(line.text);
    return result;
}

ActionRun runAction(RunAction_T level, const QString &plainFile, const QString &keyFile, quint8 keyIndex)
{
    ActionRun run;
    ThreadWorker worker;
    worker.setParams(plainFile, keyFile, keyIndex);
    worker.setAction(level);
    QObject::connect(&worker, &ThreadWorker::update_process, [&run](const QString &text, bool error) {
        run.lines.append({ text, error });
    });
    QObject::connect(&worker, &ThreadWorker::finished, [&run] {
        ++run.finishedCount;
        run.linesAtFinished = run.lines.size();
    });
    worker.process();
    run.exitCode = worker.getExitCode();
    return run;
}

QStringList callNames(const QList<QJsonObject> &journal)
{
    QStringList names;
    for (const QJsonObject &entry : journal)
        names.append(entry.value(QLatin1String("call")).toString());
    return names;
}
