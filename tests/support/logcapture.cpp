#include "logcapture.h"

#include <QMutexLocker>

namespace {

QMutex currentMutex;
LogCapture *current = nullptr;

} // namespace

LogCapture::LogCapture()
{
    const QMutexLocker locker(&currentMutex);
    outer = current;
    current = this;
    previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture()
{
    const QMutexLocker locker(&currentMutex);
    current = outer;
    qInstallMessageHandler(previous);
}

QStringList LogCapture::messages(std::optional<QtMsgType> type) const
{
    const QMutexLocker locker(&mutex);
    QStringList texts;
    for (const auto &[messageType, text] : captured) {
        if (!type || messageType == *type)
            texts.append(text);
    }
    return texts;
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageHandler next = nullptr;
    {
        const QMutexLocker locker(&currentMutex);
        if (!current)
            return;
        const QMutexLocker capturedLocker(&current->mutex);
        current->captured.append({ type, message });
        next = current->previous;
    }
    if (next)
        next(type, context, message);
}
