#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "actionlimits.h"
#include "exitcodes.h"
#include "threadworker.h"

#include <QBrush>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

// Action launch, progress and results.

namespace {

const QString maskromState = QStringLiteral("Maskrom");
const QString loaderState = QStringLiteral("Loader");

// The size as the file system reports it now; 0 for a file that does not exist.
qint64 fileSize(const QString &path)
{
    return QFileInfo(path).size();
}

} // namespace

void MainWindow::refuseAction(const QString &text)
{
    QMessageBox::critical(this, tr("Korvane"), text, QMessageBox::Ok, QMessageBox::NoButton);
}

bool MainWindow::pluginReadyFor(const QCheckBox *levelCheck, const QString &unsupportedText)
{
    // A click that arrives between a launch and the queued busy state is the same
    // press again: it must not start a second worker, nor show anything.
    if (worker)
        return false;
    if (!library.isLoaded()) {
        refuseAction(tr("Dll is not loaded!"));
        return false;
    }
    if (!levelCheck->isChecked()) {
        refuseAction(unsupportedText);
        return false;
    }
    return true;
}

void MainWindow::basicRunClick()
{
    if (!pluginReadyFor(ui->basicCheck, tr("Dll did not support to do basic action!")))
        return;
    const QString keyFile = ui->basicKeyEdit->text();
    if (!keyFile.isEmpty() && !isValidBasicKeySize(fileSize(keyFile)))
        return refuseAction(tr("size invalid for key file!"));
    const QString status = statusLabel->text();
    if (status.indexOf(maskromState) < 0 && status.indexOf(loaderState) < 0)
        return refuseAction(tr("no available device!"));
    launchAction(RUN_ACTION_BASIC, QString(), keyFile, 0);
}

void MainWindow::middleRunClick()
{
    if (!pluginReadyFor(ui->middleCheck, tr("Dll did not support to do middle action!")))
        return;
    const QString plainFile = ui->middlePlainEdit->text();
    if (plainFile.isEmpty())
        return refuseAction(tr("No plain file!"));
    // A missing or empty file passes here; one the library's 16-bit length cannot carry does not.
    if (!isValidProofDataSize(fileSize(plainFile)))
        return refuseAction(tr("size invalid for plain file!"));
    if (statusLabel->text().indexOf(loaderState) < 0)
        return refuseAction(tr("action can only work on the loader device!"));
    launchAction(RUN_ACTION_MIDDLE, plainFile, QString(), 0);
}

void MainWindow::highRunClick()
{
    if (!pluginReadyFor(ui->highCheck, tr("Dll did not support to do high action!")))
        return;
    const QString keyFile = ui->highKeyEdit->text();
    if (keyFile.isEmpty())
        return refuseAction(tr("No key file!"));
    if (!isValidHighKeySize(fileSize(keyFile)))
        return refuseAction(tr("size invalid for key file!"));
    if (statusLabel->text().indexOf(loaderState) < 0)
        return refuseAction(tr("action can only work on the loader device!"));
    launchAction(RUN_ACTION_HIGH, QString(), keyFile, static_cast<quint8>(ui->highKeySpin->value() & 0xff));
}

void MainWindow::launchAction(
    RunAction_T level, const QString &plainFile, const QString &keyFile, quint8 keyIndex)
{
    auto *thread = new QThread;
    auto *newWorker = new ThreadWorker;
    newWorker->setParams(plainFile, keyFile, keyIndex);
    newWorker->setAction(level);
    newWorker->resetExitCode();
    if (traceJournal) {
        TraceRecord launchFields = traceOrigin;
        launchFields.board = statusLabel->text().contains(maskromState) ? maskromState : loaderState;
        newWorker->setTrace(traceJournal.get(), launchFields, duplicateGuard);
    }
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
