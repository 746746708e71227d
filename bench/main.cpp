// quorrel-bench: measures what Quorrel costs while it waits and how fast it
// reacts, against references built and run beside it, and prints one
// Markdown table (see BENCHMARKS.md). It is not a test: a missed target is
// reported, never turned into a failure.
//
//   quorrel-bench [--quick | --long]
//
// --quick, the default, shortens the idle windows and leaves the tick period
// out; --long waits them out in full and takes more runs of everything.

#include "bench/Measurements.h"
#include "support/LocalHttpServer.h"

#include <QApplication>
#include <QFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>
#include <cstdio>
#include <curl/curl.h>

namespace
{

void progress(const char *what)
{
    std::fprintf(stderr, "quorrel-bench: %s\n", what);
}

QString cpuModel()
{
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (!cpuinfo.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : cpuinfo.readAll().split('\n')) {
        if (line.startsWith("model name"))
            return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
    }
    return {};
}

QString loadAverage()
{
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (!loadavg.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(loadavg.readAll()).section(u' ', 0, 2);
}

QString machine()
{
    return QStringLiteral("%1, %2 cores, Linux %3, Qt %4, %5")
        .arg(cpuModel())
        .arg(QThread::idealThreadCount())
        .arg(QSysInfo::kernelVersion(), QString::fromLatin1(qVersion()),
             QString::fromLatin1(curl_version()).section(u' ', 0, 0));
}

int measureEverything(const Options &options)
{
    const SteadyTime began = std::chrono::steady_clock::now();
    const QString loadBefore = loadAverage();
    const QString directory = QApplication::applicationDirPath();
    const Server server(QApplication::applicationFilePath());
    if (!server.isRunning()) {
        progress("the loopback server did not start; nothing measured");
        return 1;
    }
    const Profile profile(server.host(QStringLiteral("/html")));
    const Tools tools{QApplication::applicationFilePath(),
                      directory + QStringLiteral("/quorrel-probe"),
                      directory + QStringLiteral("/bare-window"), &server, &profile};
    // One X server for the idle programs and one for the start-ups, so that
    // no window that comes and goes can touch an idle program.
    const XServer idleX;
    const XServer startupX;
    if (!idleX.screen() || !startupX.screen())
        progress("Xvfb did not start: the figures under Xvfb are left out");

    Table table;
    progress("starting the idle programs, the time-outs and the ticks");
    Waits waits(options, tools, idleX.screen());
    progress("start-up, offscreen");
    measureStartup(options, tools, Screen{QStringLiteral("offscreen"), {}}, table);
    if (startupX.screen()) {
        progress("start-up, Xvfb");
        measureStartup(options, tools, *startupX.screen(), table);
    }
    progress("one attempt, Stop and the window during a fetch");
    measureFetches(options, tools, table);
    progress("long host lists");
    measureHostLists(options, table);
    progress("memory over time");
    measureMemoryOverTime(options, tools, table);
    progress("waiting for the idle windows, the time-outs and the ticks");
    waits.report(table);

    const double minutes = millisecondsBetween(began, std::chrono::steady_clock::now()) / 60000;
    std::printf("Machine: %s\nLoad average before and after: %s; %s\n"
                "Command: quorrel-bench %s (%.1f minutes)\n\n%s",
                machine().toUtf8().constData(), loadBefore.toUtf8().constData(),
                loadAverage().toUtf8().constData(), options.longRun ? "--long" : "--quick", minutes,
                table.markdown().toUtf8().constData());
    return 0;
}

// --serve: the loopback HTTP server, until the bench ends it.
int serve()
{
    const LocalHttpServer server;
    if (!server.isListening())
        return 1;
    std::printf("port %u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    return QApplication::exec();
}

// More runs of everything, the idle windows in full and the tick period.
Options longOptions()
{
    Options options;
    options.longRun = true;
    options.startupRuns = 30;
    options.attemptRuns = 100;
    options.stopRounds = 30;
    options.hostListRuns = 15;
    options.editRuns = 50;
    options.timeOutRuns = 5;
    options.soakRuns = 5;
    options.idleWindow = std::chrono::seconds(120);
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    // The bench's own windows, and those of its helpers, are never on a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Nothing the bench does may touch the user's own files.
    QStandardPaths::setTestModeEnabled(true);

    const QStringList arguments = QApplication::arguments().mid(1);
    const QString mode = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (mode == u"--serve")
        return serve();
    if (mode == u"--time-out")
        return timeOutChild(rest);
    if (mode == u"--ticks")
        return ticksChild(rest);
    if (mode == u"--soak")
        return soakChild(rest);
    if (mode.isEmpty() || mode == u"--quick")
        return measureEverything(Options{});
    if (mode == u"--long")
        return measureEverything(longOptions());
    std::fprintf(stderr, "usage: quorrel-bench [--quick | --long]\n");
    return 2;
}
