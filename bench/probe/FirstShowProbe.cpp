// Linked into the bench's builds of the program and of the bare reference
// window, beside their own main(). It changes nothing they do; it reports
// when the first window has been shown and then, by its first argument:
//
//   show          prints "shown NS KIB": the steady clock in nanoseconds and
//                 the peak resident memory so far, and ends the process at
//                 once. The peak is the process's own: the kernel's account
//                 of a child's peak also holds the parent's memory at the
//                 time of the exec;
//   idle [NAME]   clicks the button called NAME, if given, as a user would,
//                 prints "ready" once the click has been handled and leaves
//                 the process to idle until the bench ends it.

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace
{

long long peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

class FirstShowProbe final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && watched->isWindowType() &&
            static_cast<QWindow *>(watched)->isExposed()) {
            QCoreApplication::instance()->removeEventFilter(this);
            // Queued: the window paints while it handles the exposure, and
            // it counts as shown once that paint is done.
            QTimer::singleShot(0, this, &FirstShowProbe::shown);
        }
        return false;
    }

private:
    void shown()
    {
        const QStringList arguments = QCoreApplication::arguments();
        if (arguments.value(1) == u"show") {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::printf("shown %lld %lld\n", static_cast<long long>(now.count()),
                        peakResidentKiB());
            std::fflush(stdout);
            std::_Exit(0);
        }
        if (arguments.size() > 2)
            clickButton(arguments.at(2));
        std::printf("ready\n");
        std::fflush(stdout);
    }

    static void clickButton(const QString &name)
    {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (auto *button = window->findChild<QAbstractButton *>(name)) {
                button->click();
                return;
            }
        }
    }
};

void installProbe()
{
    QCoreApplication *application = QCoreApplication::instance();
    application->installEventFilter(new FirstShowProbe(application));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
