#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "korvane_plugin.h"
#include "runchecks.h"

#include <QDebug>
#include <QFileDialog>
#include <QMessageBox>

// Plug-in loading and file selection.

namespace {

// Not translated: the patterns must stay what the file system matches.
#ifdef Q_OS_WIN
const QString pluginFilter = QStringLiteral("dll files (*.dll);;All files (*)");
#else
const QString pluginFilter = QStringLiteral("shared libraries (*.so);;All files (*)");
#endif
const QString dataFilter = QStringLiteral("bin files (*.bin);;text files (*.txt);;All files (*)");

void chooseInto(QWidget *parent, const QString &title, QLineEdit *edit)
{
    const QString path = QFileDialog::getOpenFileName(parent, title, QString(), dataFilter);
    if (!path.isEmpty())
        edit->setText(path);
}

} // namespace

void MainWindow::loadPlugin(QString path)
{
    const PluginLoadResult result = session.loadPlugin(path);
    if (const std::optional<Refusal> refusal = pluginRefusal(result)) {
        // A refusal keeps the plug-in in force and everything that shows it.
        QMessageBox::critical(this, tr("Korvane"), tr(refusalText(*refusal)).arg(path), QMessageBox::Ok,
            QMessageBox::NoButton);
        return;
    }

    ui->dllEdit->setText(path);
    ui->basicCheck->setChecked(result.proofLevel & KORVANE_PROOF_BASIC);
    ui->middleCheck->setChecked(result.proofLevel & KORVANE_PROOF_MIDDLE);
    ui->highCheck->setChecked(result.proofLevel & KORVANE_PROOF_HIGH);
}

void MainWindow::browseDllClick()
{
    // The worker reads the entry table from its launch on, before dllButton is disabled.
    if (worker)
        return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Select a Dll"), QString(), pluginFilter);
    if (!path.isEmpty())
        loadPlugin(path);
}

void MainWindow::browseBasicKeyClick()
{
    chooseInto(this, tr("Select a Key"), ui->basicKeyEdit);
}

void MainWindow::browseMiddlePlainClick()
{
    chooseInto(this, tr("Select a Plain"), ui->middlePlainEdit);
}

void MainWindow::browseHighKeyClick()
{
    chooseInto(this, tr("Select a Key"), ui->highKeyEdit);
}
