// Linked into the bench's build of the program and of the anchors, beside
// their own main(); it changes nothing they do. Once the first window has
// been painted it acts by the first argument:
//   show  prints "peak KIB", the process's own peak memory (a child's peak as
//         the kernel counts it holds its parent's), and ends the process;
//   idle  prints "ready MS" (the steady clock) and leaves the process idle;
//   run   clicks Start (the button named Command1), prints "ready MS" once the
//         click has been handled, and "tick MS" at each timeout of the object
//         named Timer1, whatever its class.

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace
{

class Probe final : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && watched->isWindowType() &&
            static_cast<QWindow *>(watched)->isExposed()) {
            QCoreApplication::instance()->removeEventFilter(this);
            // Queued: the window paints while it handles the exposure, and
            // it counts as shown once that paint is done.
            QTimer::singleShot(0, this, &Probe::shown);
        }
        return false;
    }

private slots:
    void say(const char *what = "tick")
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::printf("%s %.3f\n", what, std::chrono::duration<double, std::milli>(now).count());
        std::fflush(stdout);
    }

private:
    void shown()
    {
        const QString mode = QCoreApplication::arguments().value(1);
        if (mode == u"show") {
            QFile status(QStringLiteral("/proc/self/status"));
            const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : "";
            const QByteArray peak = text.mid(text.indexOf("VmHWM:") + 6).trimmed();
            std::printf("peak %s\n", peak.left(peak.indexOf(' ')).constData());
            std::fflush(stdout);
            std::_Exit(0);
        }
        for (QWidget *window : QApplication::topLevelWidgets()) {
            QObject *timer = window->findChild<QObject *>(QStringLiteral("Timer1"));
            auto *start = window->findChild<QAbstractButton *>(QStringLiteral("Command1"));
            if (mode == u"run" && timer)
                connect(timer, SIGNAL(timeout()), this, SLOT(say()));
            if (mode == u"run" && start)
                start->click();
        }
        say("ready");
    }
};

void installProbe()
{
    QCoreApplication *application = QCoreApplication::instance();
    application->installEventFilter(new Probe(application));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)

#include "Probe.moc"
