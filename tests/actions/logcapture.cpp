#include "logcapture.h"

#include <QMutex>

namespace {

QMutex capturedMutex;
QStringList captured;

void captureMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        return;
    const QMutexLocker locker(&capturedMutex);
    captured.append(message);
}

} // namespace

LogCapture::LogCapture()
{
    const QMutexLocker locker(&capturedMutex);
    captured.clear();
    previous = qInstallMessageHandler(captureMessage);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
}

QStringList LogCapture::lines() const
{
    const QMutexLocker locker(&capturedMutex);
    return captured;
}
