#include "mainwindow.h"
#include "ui_mainwindow.h"

// Action launch, progress and results.

void MainWindow::basicRunClick() {}
void MainWindow::middleRunClick() {}
void MainWindow::highRunClick() {}
void MainWindow::on_prepare_action() {}
void MainWindow::on_post_action() {}
void MainWindow::on_update_progress(QString text, bool error)
{
    Q_UNUSED(text);
    Q_UNUSED(error);
}
