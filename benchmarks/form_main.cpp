// What the window's fixed widget tree costs by itself: the form of Korvane's main
// window, set up on a plain QMainWindow and shown, with none of the tool's work behind it.

#include "ui_mainwindow.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    Ui::MainWindow form;
    form.setupUi(&window);
    window.show();
    return application.exec();
}
