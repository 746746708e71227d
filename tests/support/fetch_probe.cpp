// Runs the window through a fetch from a host that never answers, and ends
// the fetch from outside as a user would:
//
//   fetch_probe close   closes the window 300 ms into the fetch and prints
//                       how long the program took to end after the close;
//                       exits 0 when the attempt came back as a failure and
//                       left the cycle disarmed.
//   fetch_probe stop    presses Stop 300 ms into the fetch, ten times, and
//                       prints the cancel latency (Stop pressed until the
//                       attempt has returned) and the longest stall of the
//                       event loop while the fetch waited.

#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace
{

constexpr int fetchMs = 300;
constexpr int rounds = 10;

void pointAtHangingHost(frmmain &window, const LocalHttpServer &server)
{
    window.List1->clear();
    window.List1->addItem(server.address(QStringLiteral("/hang")));
}

int closeDuringFetch(QApplication &application)
{
    TestRig rig;
    LocalHttpServer server;
    frmmain &window = rig.window();
    pointAtHangingHost(window, server);
    QObject::connect(&window, &frmmain::unloaded, &application, &QApplication::quit);
    window.show();

    bool attemptReturned = false;
    QElapsedTimer sinceClose;
    QTimer::singleShot(0, &window, [&] {
        window.Command1_Click();
        attemptReturned = true;
    });
    QTimer::singleShot(fetchMs, &window, [&] {
        sinceClose.start();
        window.QWidget::close(); // as the close box does
    });
    const int exitCode = QApplication::exec();
    std::printf("ended %lld ms after the close\n", static_cast<long long>(sinceClose.elapsed()));
    // The attempt came back as a failure and left the cycle disarmed.
    return exitCode == 0 && attemptReturned && window.bad == 1 && !window.Timer1->isActive() ? 0
                                                                                             : 1;
}

// The longest gap between the ticks of a 1 ms timer, less the millisecond.
class StallMeter
{
public:
    StallMeter()
    {
        ticker_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker_, &QTimer::timeout, [this] {
            longestNs_ = std::max(longestNs_, sinceTick_.nsecsElapsed() - 1000000);
            sinceTick_.start();
        });
        sinceTick_.start();
        ticker_.start(1);
    }
    double longestMs() const { return static_cast<double>(longestNs_) / 1e6; }

private:
    QTimer ticker_;
    QElapsedTimer sinceTick_;
    qint64 longestNs_ = 0;
};

int stopDuringFetch(QApplication &application)
{
    TestRig rig;
    LocalHttpServer server;
    frmmain &window = rig.window();
    pointAtHangingHost(window, server);
    window.show();

    QList<double> latencies;
    double longestStall = 0;
    QTimer::singleShot(0, &window, [&] {
        for (int round = 0; round < rounds; ++round) {
            QElapsedTimer sinceStop;
            QTimer::singleShot(fetchMs, &window, [&] {
                sinceStop.start();
                window.Command3_Click();
            });
            const StallMeter stalls;
            window.Command1_Click();
            latencies.append(static_cast<double>(sinceStop.nsecsElapsed()) / 1e6);
            longestStall = std::max(longestStall, stalls.longestMs());
        }
        application.quit();
    });
    QApplication::exec();
    std::sort(latencies.begin(), latencies.end());
    std::printf("cancel latency over %d stops: median %.2f ms, longest %.2f ms\n"
                "longest event-loop stall while fetching: %.2f ms\n",
                rounds, latencies[rounds / 2], latencies.last(), longestStall);
    return window.bad == rounds ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // As in the program itself: only unloading the window ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList arguments = QApplication::arguments();
    if (arguments.value(1) == u"close")
        return closeDuringFetch(application);
    if (arguments.value(1) == u"stop")
        return stopDuringFetch(application);
    std::fprintf(stderr, "usage: fetch_probe close|stop\n");
    return 2;
}
