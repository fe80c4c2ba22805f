// Linked into both start-up programs: when the first window is exposed, it prints the
// monotonic clock in nanoseconds and ends the event loop, so bench_startup can time a
// program from its spawn to its window on screen without changing the program.

#include <QCoreApplication>
#include <QEvent>
#include <QWindow>

#include <cstdio>
#include <ctime>

namespace {

class ShownProbe : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && !reported) {
            auto *window = qobject_cast<QWindow *>(watched);
            if (window && window->isExposed()) {
                reported = true;
                timespec now {};
                clock_gettime(CLOCK_MONOTONIC, &now);
                std::printf("shown %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
                std::fflush(stdout);
                QCoreApplication::exit(0);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool reported = false;
};

void installProbe()
{
    QCoreApplication *application = QCoreApplication::instance();
    application->installEventFilter(new ShownProbe(application));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
