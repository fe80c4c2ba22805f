#include "messageboxobserver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QTest>

MessageBoxObserver::MessageBoxObserver(QObject *parent)
    : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &MessageBoxObserver::poll);
    timer.start(5);
}

bool MessageBoxObserver::waitForMessageBoxes(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return boxes.size() >= count; }, timeoutMs);
}

void MessageBoxObserver::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        boxes.append({ box->icon(), box->windowTitle(), box->text(), box->standardButtons(), box->parentWidget() });
        if (onMessageBox)
            onMessageBox(box);
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        dialogs.append({ dialog->windowTitle(), dialog->nameFilters(), dialog->parentWidget() });
        const QString answer = fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
        if (answer.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(answer);
            // QFileDialog::accept is protected; QDialog's is the public entry point.
            static_cast<QDialog *>(dialog)->accept();
        }
    }
}
