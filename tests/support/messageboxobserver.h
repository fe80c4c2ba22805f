#pragma once

#include <QMessageBox>
#include <QQueue>
#include <QTimer>

#include <functional>

struct ObservedMessageBox
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QWidget *parent = nullptr;
};

struct ObservedFileDialog
{
    QString title;
    QStringList nameFilters;
    QWidget *parent = nullptr;
};

// Watches for modal dialogs while it lives, the way a person at the bench would meet
// them: each message box is recorded and answered with Ok; each file dialog is
// recorded and answered with the next queued path (an empty path cancels it).
class MessageBoxObserver : public QObject
{
    Q_OBJECT

public:
    explicit MessageBoxObserver(QObject *parent = nullptr);

    const QList<ObservedMessageBox> &messageBoxes() const { return boxes; }
    const QList<ObservedFileDialog> &fileDialogs() const { return dialogs; }
    // Answers for the file dialogs to come, in order.
    void queueFileDialogAnswer(const QString &path) { fileAnswers.enqueue(path); }
    // Called with each message box before it is answered, while it is still open.
    void setOnMessageBox(std::function<void(QMessageBox *)> callback) { onMessageBox = std::move(callback); }
    // Processes events until count message boxes have been seen, or the timeout.
    bool waitForMessageBoxes(int count, int timeoutMs = 10000);

private:
    void poll();

    QTimer timer;
    QList<ObservedMessageBox> boxes;
    QList<ObservedFileDialog> dialogs;
    QQueue<QString> fileAnswers;
    std::function<void(QMessageBox *)> onMessageBox;
};
