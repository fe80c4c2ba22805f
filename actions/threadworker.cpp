#include "threadworker.h"

ThreadWorker::ThreadWorker() = default;

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
    emit finished(); // the procedures come with the proof actions
}
