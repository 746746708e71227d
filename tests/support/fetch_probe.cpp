// Runs the window through a fetch from a host that never answers, and ends
// the fetch from outside as a user would:
//
//   fetch_probe close   closes the window 300 ms into the fetch and prints
//                       how long the program took to end after the close;
//                       exits 0 when the attempt came back as a failure and
//                       left the cycle disarmed.
//
// The latency of Stop and the event loop during a fetch are measured by the
// benchmark (bench/).

#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>
#include <cstdio>

namespace
{

constexpr int fetchMs = 300;

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

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // As in the program itself: only unloading the window ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList arguments = QApplication::arguments();
    if (arguments.value(1) == u"close")
        return closeDuringFetch(application);
    std::fprintf(stderr, "usage: fetch_probe close\n");
    return 2;
}
