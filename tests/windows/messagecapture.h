#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Collects every message while it lives, then puts the previous handler back. Lets a
// test show that a line was not written, which QTest::ignoreMessage cannot.
class MessageCapture
{
public:
    MessageCapture()
    {
        state().lines.clear();
        previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture() { qInstallMessageHandler(previous); }
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    QStringList lines() const
    {
        const QMutexLocker locker(&state().mutex);
        return state().lines;
    }

private:
    struct State
    {
        QMutex mutex;
        QStringList lines;
    };
    static State &state()
    {
        static State captured;
        return captured;
    }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        const QMutexLocker locker(&state().mutex);
        state().lines.append(message);
    }

    QtMessageHandler previous;
};
