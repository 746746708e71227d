// quorrel-bench: what Quorrel costs while it waits and how fast it reacts, against anchors
// run beside it, as one Markdown table (BENCHMARKS.md). A missed target never fails anything.

#include "bench/Bench.h"
#include "platform/store/SettingsStore.h"
#include "support/LocalHttpServer.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>
#include <cstdio>
#include <curl/curl.h>
#include <numeric>

namespace
{

constexpr int startupRuns = 10;
constexpr int timeOutRuns = 3;

QString loadAverage()
{
    return QString::fromLatin1(fileBytes(u"/proc/loadavg"_s)).section(u' ', 0, 2);
}

QString machine()
{
    const QString cpuinfo = QString::fromUtf8(fileBytes(u"/proc/cpuinfo"_s));
    const QString model = cpuinfo.section(u"model name"_s, 1).section(u'\n', 0, 0).section(u':', 1);
    return u"%1, %2 cores, Linux %3, Qt %4, %5"_s.arg(model.trimmed())
        .arg(QThread::idealThreadCount())
        .arg(QSysInfo::kernelVersion(), QString::fromLatin1(qVersion()),
             QString::fromLatin1(curl_version()).section(u' ', 0, 0));
}

// A probe gives one or more rows. One that waits has had its processes started
// before any probe ran, so that the waits overlap the rest, and runs last.
struct Probe {
    QString what;
    bool waits;
    std::function<QList<Row>()> rows;
};

QList<Row> runInTurn(const QList<Probe> &probes)
{
    QList<QList<Row>> rows(probes.size());
    for (const bool waits : {false, true}) {
        for (qsizetype index = 0; index < probes.size(); ++index) {
            if (probes[index].waits == waits) {
                std::fprintf(stderr, "quorrel-bench: %s\n", qPrintable(probes[index].what));
                rows[index] = probes[index].rows();
            }
        }
    }
    return std::accumulate(rows.cbegin(), rows.cend(), QList<Row>());
}

int measureEverything()
{
    const auto began = std::chrono::steady_clock::now();
    const QString loadBefore = loadAverage();
    const QString bench = QApplication::applicationFilePath();
    const QStringList environment = QProcess::systemEnvironment();
    Child server = spawn(bench, {u"--serve"_s}, environment);
    const std::optional<double> port = awaitValue(server, "port ", 20s);
    if (!port)
        qFatal("the loopback server did not start");
    const QString host = u"127.0.0.1:%1"_s.arg(*port);
    const Tools tools{bench, QApplication::applicationDirPath(), host};
    QtSettingsStore settings(tools.home.filePath(u".config"_s));
    settings.write(u"Quorrel"_s, u"options"_s, u"host0"_s, host + u"/html"_s);
    settings.write(u"Quorrel"_s, u"options"_s, u"interval"_s, u"30"_s);
    if (settings.commit())
        qFatal("the settings of the bench's home could not be written");
    // An X server of the bench's own, on the first free display, which it
    // prints once it takes clients.
    Child xServer =
        spawn(QStandardPaths::findExecutable(u"Xvfb"_s),
              u"-displayfd 1 -screen 0 1024x768x24 -nolisten tcp"_s.split(u' '), environment);
    const std::optional<double> display = awaitValue(xServer, "", 20s);
    if (!display)
        qFatal("Xvfb did not start");
    QList<Child> idlers = startIdlers(tools);
    // A request never answered for HTTP; for FTP, a server that never greets.
    Child timeOuts[] = {
        spawn(bench, {u"--time-out"_s, u"http"_s, host + u"/hang"_s, QString::number(timeOutRuns)},
              environment),
        spawn(bench, {u"--time-out"_s, u"ftp"_s, host, QString::number(timeOutRuns)}, environment)};
    const QList<Row> table = runInTurn({
        {u"start-up"_s, false, [&] { return startupRows(tools, u":%1"_s.arg(*display)); }},
        {u"the idle programs"_s, true, [&] { return idleRows(idlers); }},
        {u"one fetch"_s, false, [&] { return fetchRows(tools); }},
        {u"the bytes of one attempt"_s, false, [&] { return wireRows(tools); }},
        {u"a hanging fetch"_s, false, [&] { return hangingFetchRows(tools); }},
        {u"the time-outs"_s, true, [&] { return timeOutRows(timeOuts[0], timeOuts[1]); }},
        {u"a long host list"_s, false, [&] { return hostListRows(); }},
        {u"the History window"_s, false, [&] { return historyRows(); }},
        {u"memory over time"_s, false, [&] { return soakRows(tools); }},
    });
    end(xServer);
    end(server);
    std::printf("Machine: %s\nLoad average before and after: %s; %s\nquorrel-bench took %.1Lf "
                "minutes\n\n%s",
                qPrintable(machine()), qPrintable(loadBefore), qPrintable(loadAverage()),
                (std::chrono::steady_clock::now() - began) / 1.0min, qPrintable(markdown(table)));
    return 0;
}

} // namespace

// Start-up: a new process a run, taking turns after a warm-up of each that fills the
// system's caches; the CPU time from wait4, the peak memory from the probe at the first show.
QList<Row> startupRows(const Tools &tools, const QString &display)
{
    const QStringList programs{u"quorrel-probe"_s, u"label-window"_s, u"bare-window"_s};
    QList<double> cpuMs[3];
    QList<double> peakMiB[3];
    for (int run = -1; run < startupRuns; ++run) {
        for (qsizetype program = 0; program < programs.size(); ++program) {
            Child child = spawn(tools.directory + u'/' + programs[program], {u"show"_s},
                                tools.environment(display));
            const Ended ended = reap(child);
            const QList<double> peak = valuesTagged(ended.output, "peak ");
            if (run >= 0 && !peak.isEmpty()) {
                cpuMs[program].append(ended.cpuMs);
                peakMiB[program].append(peak.first() / 1024);
            }
        }
    }
    const QString label = u"one-label window"_s;
    const QString bare = u"bare window"_s;
    return {
        {u"start-up CPU time"_s, u"Xvfb"_s, u"ms"_s, cpuMs[0],
         Target{u"≤ 1.4 × one-label window"_s, 1.4}, label, cpuMs[1]},
        {u"start-up CPU time"_s, u"Xvfb"_s, u"ms"_s, cpuMs[0], std::nullopt, bare, cpuMs[2]},
        {u"peak RSS (VmHWM)"_s, u"Xvfb"_s, u"MiB"_s, peakMiB[0],
         Target{u"≤ 1.3 × one-label window"_s, 1.3}, label, peakMiB[1]},
        {u"peak RSS (VmHWM)"_s, u"Xvfb"_s, u"MiB"_s, peakMiB[0], std::nullopt, bare, peakMiB[2]}};
}

QList<Row> timeOutRows(Child &http, Child &ftp)
{
    const auto row = [](Child &child, const QString &method, double seconds) {
        return Row{u"time-out, "_s + method,
                   u"server that never answers; Start until \"could not connect\""_s, u"s"_s,
                   valuesTagged(reap(child).output, "s "),
                   Target{u"%1 s ± 0.3 s, every run"_s.arg(seconds), seconds + 0.3, seconds - 0.3}};
    };
    return {row(http, u"HTTP"_s, 15), row(ftp, u"FTP"_s, 20)};
}

// --serve: the loopback server of the tests, until the bench ends it.
int serveChild()
{
    const LocalHttpServer server;
    std::printf("port %u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    return server.isListening() ? QApplication::exec() : 1;
}

int main(int argc, char *argv[])
{
    // The bench's own windows, and those of its helpers, are never on a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // Nothing the bench does may touch the user's own files.
    QStandardPaths::setTestModeEnabled(true);
    const QStringList arguments = QApplication::arguments().mid(1);
    if (arguments.value(0) == u"--serve")
        return serveChild();
    if (arguments.value(0) == u"--time-out")
        return timeOutChild(arguments.mid(1));
    if (arguments.value(0) == u"--soak")
        return soakChild(arguments.mid(1));
    if (arguments.value(0) == u"--wire")
        return wireChild();
    return arguments.isEmpty() ? measureEverything() : 2;
}
