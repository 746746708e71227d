// Memory over time: thousands of attempts, each by the tick, against hosts
// that succeed, fail and refuse, chosen at random by the program itself. Each
// run is a process of its own, so that its resident memory is the window's.

#include "bench/BenchRig.h"
#include "bench/Measurements.h"

#include <QApplication>
#include <QCheckBox>
#include <QSlider>
#include <QTimer>
#include <cstdio>

namespace
{

// The first tenth of the attempts warms the caches up.
constexpr int checkpoints = 10;

struct SoakRun {
    double growthKiB = 0;
    double warmKiB = 0;
};

std::optional<SoakRun> soakOnce(const Options &options, const Tools &tools)
{
    const QString refused = QStringLiteral("127.0.0.1:%1/").arg(refusingPort());
    Helper child(tools.bench,
                 {QStringLiteral("--soak"), QString::number(options.soakAttempts),
                  tools.server->host(QStringLiteral("/html")),
                  tools.server->host(QStringLiteral("/missing")), refused},
                 QProcessEnvironment::systemEnvironment());
    QList<qint64> residents;
    // Far more than a loopback attempt takes, even on a loaded machine.
    const std::chrono::milliseconds limit{options.soakAttempts * 20 + 10000};
    while (const std::optional<QString> line = child.nextLine(limit)) {
        if (line->startsWith(QStringLiteral("rss ")))
            residents.append(line->section(u' ', 2, 2).toLongLong());
    }
    if (residents.size() != checkpoints + 1)
        return std::nullopt;
    return SoakRun{static_cast<double>(residents.last() - residents[1]),
                   static_cast<double>(residents[1])};
}

} // namespace

void measureMemoryOverTime(const Options &options, const Tools &tools, Table &table)
{
    QList<double> growths;
    QList<double> warm;
    for (int run = 0; run < options.soakRuns; ++run) {
        if (const std::optional<SoakRun> soak = soakOnce(options, tools)) {
            growths.append(soak->growthKiB);
            warm.append(soak->warmKiB / 1024);
        }
    }
    const std::optional<Summary> growth = summarize(growths);
    const std::optional<Summary> warmSummary = summarize(warm);
    table.add({Figure::MemoryOverTime,
               QStringLiteral("RSS growth after warm-up"),
               QStringLiteral("%L1 attempts: succeed, fail (404), refused, at random")
                   .arg(options.soakAttempts),
               Unit{QStringLiteral("KiB"), 0},
               growth,
               {},
               {},
               QStringLiteral("≤ 1 MiB"),
               medianAtMost(growth, 1024),
               warmSummary
                   ? QStringLiteral("RSS after warm-up %1 MiB").arg(warmSummary->median, 0, 'f', 1)
                   : QStringLiteral("no run completed")});
}

// --soak ATTEMPTS HOST...: the window ticks through the attempts, the hosts
// taken at random, and prints "rss DONE KIB" at each tenth of the way.
int soakChild(const QStringList &arguments)
{
    const int attempts = arguments.value(0).toInt();
    if (attempts < checkpoints)
        return 2;
    BenchRig rig;
    frmmain &window = rig.window();
    rig.setHosts(arguments.mid(1));
    window.random1->setChecked(true);
    // An attempt at every tick.
    window.Slider1->setValue(1);
    window.show();

    const auto report = [](int done) {
        std::printf("rss %d %lld\n", done, static_cast<long long>(residentKiB()));
        std::fflush(stdout);
    };
    int done = 0;
    // Each tick from the event loop, as the timer would give it, so that
    // what the window defers to the loop runs between attempts. It is armed
    // anew only after the attempt: it would fire inside the attempt's wait.
    QTimer ticker;
    ticker.setSingleShot(true);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        window.Timer1_Timer();
        ++done;
        if (done % (attempts / checkpoints) == 0)
            report(done);
        if (done == attempts)
            QApplication::quit();
        else
            ticker.start(0);
    });
    report(0);
    ticker.start(0);
    return QApplication::exec();
}
