#include "threadworker.h"

#include "exitcodes.h"

#include <QDebug>

ThreadWorker::ThreadWorker()
{
    // Before any worker exists no signal carrying a level can be queued.
    static const int registered = qRegisterMetaType<RunAction_T>("RunAction_T");
    Q_UNUSED(registered);
}

void ThreadWorker::setParams(QString plainFile, QString keyFile, quint8 keyIndex)
{
    this->plainFile = std::move(plainFile);
    this->keyFile = std::move(keyFile);
    this->keyIndex = keyIndex;
}

void ThreadWorker::setAction(RunAction_T level)
{
    action = level;
}

RunAction ThreadWorker::getAction() const
{
    return action;
}

int ThreadWorker::getExitCode() const
{
    return exitCode;
}

void ThreadWorker::process()
{
    const char *closingLog = nullptr;
    FinalLine last;
    switch (action) {
    case RUN_ACTION_BASIC:
        last = basicAction();
        closingLog = "basic action out";
        break;
    case RUN_ACTION_MIDDLE:
        last = middleAction();
        closingLog = "middle action out";
        break;
    case RUN_ACTION_HIGH:
        last = highAction();
        closingLog = "high action out";
        break;
    default:
        exitCode = ExitCode::InvalidLevel;
        qDebug() << "invalid action:" << static_cast<qint32>(action);
        last = { tr("invalid action"), true };
        break;
    }
    emit update_process(last.text, last.error);
    if (closingLog)
        qDebug() << closingLog;
    emit finished();
}

ThreadWorker::FinalLine ThreadWorker::fail(qint32 code, const QString &line)
{
    exitCode = code;
    return { line, true };
}
