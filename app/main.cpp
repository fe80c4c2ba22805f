#include "cdeviceeventfilter.h"
#include "mainwindow.h"
#include "translation.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>
#include <QWindow>

// The objects live for the whole run and are destroyed in reverse order of creation:
// the window releases the device library before the filter leaves the application.
int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QTranslator translator;
    QTranslator qtTranslator;
    installTranslationsFor(translator, qtTranslator, QLocale::system().uiLanguages());
    CDeviceEventFilter filter;
    MainWindow window;

    window.show();
    filter.registerEvent(QGuiApplication::allWindows().first());
    QObject::connect(&filter, &CDeviceEventFilter::deviceChanged, &window, &MainWindow::deviceChangedSlot);
    application.installNativeEventFilter(&filter);

    return application.exec();
}
