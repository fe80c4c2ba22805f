#include "logmessagehandler.h"

#include "apppaths.h"
#include "fileappend.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <ctime>
#endif

namespace {

struct LogState
{
    QMutex mutex;
    // Native separators and a trailing separator, ready to take the file name.
    QString directoryPrefix;
    LogClock clock;
};

// Never destroyed: Qt may still hand over messages while static objects are torn down at exit.
LogState &logState()
{
    static LogState *const state = new LogState;
    return *state;
}

QString directoryPrefix(const QString &directory)
{
    return QDir::toNativeSeparators(directory + QDir::separator());
}

struct LocalTime
{
    int year, month, day, hour, minute, second, millisecond;
};

// Read straight from the system: Qt's local clock looks the time zone up in the file
// system on every call, which alone would cost a good part of what writing a line costs.
// Daylight saving changes still apply.
LocalTime systemLocalTime()
{
#ifdef Q_OS_WIN
    SYSTEMTIME now;
    GetLocalTime(&now);
    return { now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds };
#else
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm local;
    localtime_r(&now.tv_sec, &local);
    return { local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
        int(now.tv_nsec / 1000000) };
#endif
}

LocalTime readClock(const LogClock &clock)
{
    if (!clock)
        return systemLocalTime();
    const QDateTime now = clock();
    const QDate date = now.date();
    const QTime time = now.time();
    return { date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(), time.msec() };
}

// Writes value as width decimal digits, zero padded; returns the end.
char *putDigits(char *out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

const char *tagFor(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return " [Debug] ";
    case QtWarningMsg:
        return " [Warning] ";
    case QtCriticalMsg:
        return " [Critical] ";
    case QtFatalMsg:
        return " [Fatal] ";
    case QtInfoMsg:
        return " [Info] ";
    }
    return " [Debug] ";
}

} // namespace

void setLogFileDirectory(const QString &directory)
{
    const QString prefix = directoryPrefix(directory);
    LogState &state = logState();
    const QMutexLocker locker(&state.mutex);
    state.directoryPrefix = prefix;
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

    // Encoded outside the lock, so that while one thread writes its line the other can
    // prepare its own.
    const QByteArray text = message.toUtf8();

    LogState &state = logState();
    // Held from reading the clock to closing the file, so lines from the GUI thread and
    // the worker never interleave and appear in the order of their time stamps.
    const QMutexLocker locker(&state.mutex);

    // One reading stamps the line and names the file, so a line never lands in the
    // file of the day before or after its own time.
    const LocalTime now = readClock(state.clock);
    char name[] = "Appyyyy-MM-dd.log";
    char *date = name + 3;
    putDigits(date, now.year, 4);
    putDigits(date + 5, now.month, 2);
    putDigits(date + 8, now.day, 2);
    char time[] = "hh:mm:ss zzz";
    putDigits(time, now.hour, 2);
    putDigits(time + 3, now.minute, 2);
    putDigits(time + 6, now.second, 2);
    putDigits(time + 9, now.millisecond, 3);

    const QString prefix = state.directoryPrefix.isEmpty() ? directoryPrefix(AppPaths::logDirectoryPath())
                                                           : state.directoryPrefix;
    // One write a line: another program logging to the same folder never writes over it.
    appendWholeLine(prefix + QLatin1String(name), QByteArray(time) + tagFor(type) + text + '\n');
}
