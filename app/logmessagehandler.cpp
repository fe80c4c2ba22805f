#include "logmessagehandler.h"

void setLogFileDirectory(const QString &directory)
{
    Q_UNUSED(directory);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(type);
    Q_UNUSED(context);
    Q_UNUSED(message);
}
