#include "windowbench.h"

#include "testplugins.h"

#include <QApplication>
#include <QEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

WindowBench::WindowBench()
    : environment(std::make_unique<TestEnvironment>())
{
    if (!environment->isValid()) {
        std::fprintf(stderr, "cannot create the window's directory\n");
        return;
    }
    testBench = std::make_unique<TestBench>(environment->benchDirectory());
    testBench->attach(QStringLiteral("b1"), ZvSim::Loader);
    const QJsonObject config { { "DLL", QString::fromUtf8(TestPlugins::recordingPlugin) } };
    environment->writeFile(QStringLiteral("config.json"), QJsonDocument(config).toJson());
    const QString key = environment->writeFile(QStringLiteral("key.bin"), QByteArray(32, '\x5a'));
    const QString data = environment->writeFile(QStringLiteral("data.bin"), QByteArray(1024, '\x3c'));

    window = std::make_unique<MainWindow>();
    window->show();
    window->findChild<QLineEdit *>(QStringLiteral("basicKeyEdit"))->setText(key);
    window->findChild<QLineEdit *>(QStringLiteral("middlePlainEdit"))->setText(data);
    window->findChild<QLineEdit *>(QStringLiteral("highKeyEdit"))->setText(key);
    qApp->installEventFilter(this);
    ready = true;
}

WindowBench::~WindowBench()
{
    qApp->removeEventFilter(this);
    if (window)
        window->close();
}

const char *WindowBench::levelName(Level level)
{
    static const char *const names[] = { nullptr, "Basic", "Middle", "High" };
    return names[level];
}

QString WindowBench::runAction(Level level)
{
    static const char *const buttons[] = { nullptr, "basicRunButton", "middleRunButton", "highRunButton" };
    boxShown = false;
    window->findChild<QPushButton *>(QLatin1String(buttons[level]))->click();
    // The result box runs inside on_post_action, itself inside this processEvents call:
    // once the box has shown and the call has returned, the window is idle again.
    while (!boxShown)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return lastBoxText;
}

bool WindowBench::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            boxShown = true;
            lastBoxText = box->text();
            if (onResultBox)
                onResultBox();
            // Closed from the box's own event loop, which starts after the show.
            QTimer::singleShot(0, box, [box] { box->done(QMessageBox::Ok); });
        }
    }
    return QObject::eventFilter(watched, event);
}
