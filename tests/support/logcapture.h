#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// Records every message while it lives and hands each on to the handler it found, which
// it puts back at the end, also when the window installed the log file's handler since.
// Shows that a line was not written, which QTest::ignoreMessage cannot.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    Q_DISABLE_COPY_MOVE(LogCapture)

    // The messages so far, oldest first: all of them, or those of one type.
    QStringList messages(std::optional<QtMsgType> type = std::nullopt) const;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QtMessageHandler previous = nullptr;
    LogCapture *outer = nullptr;
    mutable QMutex mutex;
    QList<QPair<QtMsgType, QString>> captured;
};
