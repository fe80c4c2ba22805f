#include "logmessagehandler.h"

#include "apppaths.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

namespace {

struct LogState
{
    QMutex mutex;
    QString directory;
    LogClock clock;
};

// Never destroyed: Qt may still hand over messages while static objects are torn down at exit.
LogState &logState()
{
    static LogState *const state = new LogState;
    return *state;
}

QLatin1String tagFor(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QLatin1String(" [Debug] ");
    case QtWarningMsg:
        return QLatin1String(" [Warning] ");
    case QtCriticalMsg:
        return QLatin1String(" [Critical] ");
    case QtFatalMsg:
        return QLatin1String(" [Fatal] ");
    case QtInfoMsg:
        return QLatin1String(" [Info] ");
    }
    return QLatin1String(" [Debug] ");
}

} // namespace

void setLogFileDirectory(const QString &directory)
{
    LogState &state = logState();
    const QMutexLocker locker(&state.mutex);
    state.directory = directory;
}

void setLogClock(LogClock clock)
{
    LogState &state = logState();
    const QMutexLocker locker(&state.mutex);
    state.clock = std::move(clock);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context);
    if (message.contains(QLatin1String("connectSlotsByName")))
        return;

    LogState &state = logState();
    // Held from reading the clock to closing the file, so lines from the GUI thread and
    // the worker never interleave and appear in the order of their time stamps.
    const QMutexLocker locker(&state.mutex);
    // One reading stamps the line and names the file, so a line never lands in the
    // file of the day before its own time.
    const QDateTime now = state.clock ? state.clock() : QDateTime::currentDateTime();
    const QString directory = state.directory.isEmpty() ? AppPaths::logDirectoryPath() : state.directory;
    const QString path = QDir::toNativeSeparators(directory + QDir::separator() + QLatin1String("App")
                                                  + now.date().toString(QStringLiteral("yyyy-MM-dd"))
                                                  + QLatin1String(".log"));

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << now.time().toString(QStringLiteral("hh:mm:ss zzz")) << tagFor(type) << message << Qt::endl;
    file.close();
}
