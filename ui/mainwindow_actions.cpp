#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "exitcodes.h"
#include "korvane_plugin.h"
#include "runchecks.h"
#include "threadworker.h"

#include <QBrush>
#include <QCheckBox>
#include <QLabel>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

// Action launch, progress and results.

void MainWindow::refuseAction(const QString &text)
{
    QMessageBox::critical(this, tr("Korvane"), text, QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::runLevel(const ActionParameters &action)
{
    // A click that arrives between a launch and the queued busy state is the same
    // press again: it must not start a second worker, nor show anything.
    if (worker)
        return;
    const int announcedLevels = (ui->basicCheck->isChecked() ? KORVANE_PROOF_BASIC : 0)
        | (ui->middleCheck->isChecked() ? KORVANE_PROOF_MIDDLE : 0)
        | (ui->highCheck->isChecked() ? KORVANE_PROOF_HIGH : 0);
    if (const std::optional<Refusal> refusal = session.refusal(action, announcedLevels, statusLabel->text()))
        return refuseAction(tr(refusalText(*refusal)));
    launchAction(action);
}

void MainWindow::basicRunClick()
{
    runLevel({ RUN_ACTION_BASIC, QString(), ui->basicKeyEdit->text(), 0 });
}

void MainWindow::middleRunClick()
{
    runLevel({ RUN_ACTION_MIDDLE, ui->middlePlainEdit->text(), QString(), 0 });
}

void MainWindow::highRunClick()
{
    runLevel({ RUN_ACTION_HIGH, QString(), ui->highKeyEdit->text(), static_cast<quint8>(ui->highKeySpin->value() & 0xff) });
}

void MainWindow::launchAction(const ActionParameters &action)
{
    auto *thread = new QThread;
    auto *newWorker = new ThreadWorker;
    session.prepareWorker(*newWorker, action, statusLabel->text());
    newWorker->moveToThread(thread);

    // started reaches the window queued before it runs process() directly on the new
    // thread, so the busy state always precedes the first progress line.
    connect(newWorker, &ThreadWorker::update_process, this, &MainWindow::on_update_progress);
    connect(thread, &QThread::started, this, &MainWindow::on_prepare_action);
    connect(thread, &QThread::started, newWorker, &ThreadWorker::process);
    connect(newWorker, &ThreadWorker::finished, this, &MainWindow::on_post_action);
    connect(newWorker, &ThreadWorker::finished, thread, &QThread::quit);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);

    worker = newWorker;
    thread->start(QThread::InheritPriority);
}

void MainWindow::on_prepare_action()
{
    actionRunning = 1;
    ui->outputList->clear();
    ui->levelTabWidget->setEnabled(false);
    ui->dllButton->setEnabled(false);
}

void MainWindow::on_update_progress(QString text, bool error)
{
    auto *line = new QListWidgetItem(text);
    if (error)
        line->setBackground(QBrush(Qt::red, Qt::SolidPattern));
    ui->outputList->insertItem(ui->outputList->count(), line);
}

void MainWindow::on_post_action()
{
    actionRunning = 0;
    ui->levelTabWidget->setEnabled(true);
    ui->dllButton->setEnabled(true);
    if (!worker)
        return;

    const qint32 exitCode = worker->getExitCode();
    // The thread quits and deletes itself while the result box's event loop runs;
    // the guard tells whether it is still there to be waited for.
    const QPointer<QThread> thread = worker->thread();
    if (exitCode == ExitCode::Success)
        QMessageBox::information(
            this, tr("Korvane"), tr("Action ok."), QMessageBox::Ok, QMessageBox::NoButton);
    else
        QMessageBox::critical(this, tr("Korvane"), tr("Action failed,err=%1!").arg(exitCode), QMessageBox::Ok,
            QMessageBox::NoButton);

    // The worker may be destroyed only once its thread has left process(); a thread
    // that is already gone has finished. finished() has been emitted, so the thread
    // is told to quit here too: its queued quit() may still wait behind this slot
    // when the box closes at once, and waiting for it would block for good.
    if (thread) {
        thread->quit();
        thread->wait();
    }
    delete worker;
    worker = nullptr;
}
