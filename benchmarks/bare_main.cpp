// The yardstick for Korvane's start-up: a Qt Widgets program that shows an empty main window.

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.show();
    return application.exec();
}
