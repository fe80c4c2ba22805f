#include "messageboxobserver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>

MessageBoxObserver::MessageBoxObserver(QObject *parent)
    : QObject(parent)
{
    timer.setInterval(5);
    connect(&timer, &QTimer::timeout, this, &MessageBoxObserver::poll);
    timer.start();
}

void MessageBoxObserver::clear()
{
    boxes.clear();
    dialogs.clear();
}

void MessageBoxObserver::queueFileDialogAnswer(const QString &path)
{
    fileAnswers.enqueue(path);
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
    if (auto *box = qobject_cast<QMessageBox *>(modal))
        handleMessageBox(box);
    else if (auto *dialog = qobject_cast<QFileDialog *>(modal))
        handleFileDialog(dialog);
}

void MessageBoxObserver::handleMessageBox(QMessageBox *box)
{
    ObservedMessageBox observed;
    observed.icon = box->icon();
    observed.title = box->windowTitle();
    observed.text = box->text();
    observed.buttons = box->standardButtons();
    if (QPushButton *defaultButton = box->defaultButton())
        observed.defaultButton = box->standardButton(defaultButton);
    observed.parent = box->parentWidget();
    boxes.append(observed);

    if (onMessageBox)
        onMessageBox(box);
    if (QAbstractButton *ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}

void MessageBoxObserver::handleFileDialog(QFileDialog *dialog)
{
    ObservedFileDialog observed;
    observed.title = dialog->windowTitle();
    observed.nameFilters = dialog->nameFilters();
    observed.directory = dialog->directory().absolutePath();
    observed.parent = dialog->parentWidget();
    dialogs.append(observed);

    const QString answer = fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    if (answer.isEmpty()) {
        dialog->reject();
        return;
    }
    dialog->selectFile(answer);
    // QFileDialog::accept is protected; QDialog's is the public entry point.
    static_cast<QDialog *>(dialog)->accept();
}
