#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>

// Construction, configuration and close handling.

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
}

MainWindow::~MainWindow()
{
    delete ui;
}

bool MainWindow::loadConfig()
{
    return false;
}

bool MainWindow::saveConfig()
{
    return true;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
}
