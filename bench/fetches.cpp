// The connection attempt: the full httpd against bare libcurl in this
// process and the curl command, then Stop and the window during a fetch from
// a host that never answers. The server runs in a process of its own, so the
// CPU time of this process is the client's alone.

#include "bench/BenchRig.h"
#include "bench/Measurements.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <curl/curl.h>

namespace
{

// How long the fetch has been waiting when Stop is pressed.
constexpr int fetchMs = 300;

double processCpuMs()
{
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_nsec) / 1e6;
}

struct Costs {
    QList<double> wallMs;
    QList<double> cpuMs;
};

template <typename Work> void measure(Costs &costs, Work work)
{
    const double cpuBefore = processCpuMs();
    const SteadyTime before = std::chrono::steady_clock::now();
    work();
    costs.wallMs.append(millisecondsBetween(before, std::chrono::steady_clock::now()));
    costs.cpuMs.append(processCpuMs() - cpuBefore);
}

size_t keep(char *data, size_t size, size_t count, void *document)
{
    static_cast<QByteArray *>(document)->append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

// The least a program can do to fetch a document with libcurl.
void bareTransfer(const QByteArray &url)
{
    QByteArray document;
    CURL *easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &keep);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &document);
    static_cast<void>(curl_easy_perform(easy));
    curl_easy_cleanup(easy);
}

void curlCommand(const QString &curl, const QString &url, Costs &costs)
{
    const QProcessEnvironment environment;
    if (const std::optional<FinishedRun> run = runToEnd(
            curl, {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"), url},
            environment)) {
        costs.wallMs.append(millisecondsBetween(run->started, run->ended));
        costs.cpuMs.append(run->cpuMs);
    }
}

void addAttemptRows(Table &table, const QString &condition, const Costs &httpd,
                    const QString &referenceName, const Costs &reference, bool judged)
{
    const QString target = judged ? QStringLiteral("≤ 1.5 × bare libcurl") : QString();
    Row wall{Figure::OneAttempt,
             QStringLiteral("one attempt, wall time"),
             condition,
             Unit{QStringLiteral("ms"), 2},
             summarize(httpd.wallMs),
             referenceName,
             summarize(reference.wallMs),
             target};
    Row cpu{Figure::OneAttempt,
            QStringLiteral("one attempt, CPU time"),
            condition,
            Unit{QStringLiteral("ms"), 2},
            summarize(httpd.cpuMs),
            referenceName,
            summarize(reference.cpuMs),
            target};
    if (judged) {
        wall.met = ratioAtMost(wall, 1.5);
        cpu.met = ratioAtMost(cpu, 1.5);
    }
    table.add(wall);
    table.add(cpu);
}

void measureOneAttempt(const Options &options, const Tools &tools, Table &table)
{
    BenchRig rig;
    frmmain &window = rig.window();
    rig.setHosts({tools.server->host(QStringLiteral("/html"))});
    const QString url = tools.server->url(QStringLiteral("/html"));
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));

    // First as Quorrel spends its day, hidden in the tray: nothing repaints.
    Costs httpd;
    Costs bare;
    Costs warmUp;
    measure(warmUp, [&] { window.httpd(); });
    measure(warmUp, [&] { bareTransfer(url.toUtf8()); });
    for (int run = 0; run < options.attemptRuns; ++run) {
        measure(httpd, [&] { window.httpd(); });
        measure(bare, [&] { bareTransfer(url.toUtf8()); });
    }
    // Apart: a process's start and end leave the caches cold for what follows.
    Costs command;
    for (int run = 0; curl.isEmpty() ? false : run < options.attemptRuns; ++run)
        curlCommand(curl, url, command);
    // Then shown, the labels repainted after each attempt.
    Costs shown;
    window.show();
    settle();
    for (int run = 0; run < options.attemptRuns; ++run) {
        measure(shown, [&] {
            window.httpd();
            settle();
        });
    }

    // Every attempt must have fetched, or the figures are not those of an attempt.
    const QString failed = window.Label4->text().section(QStringLiteral(": "), 1);
    const QString failures = failed == QLatin1String("0")
                                 ? QString()
                                 : QStringLiteral(", %1 attempts FAILED").arg(failed);
    const QString hidden = QStringLiteral("loopback HTTP, window hidden") + failures;
    addAttemptRows(table, hidden, httpd, QStringLiteral("bare libcurl"), bare, true);
    // Without the command (see BENCHMARKS.md) its rows show no reference.
    addAttemptRows(table, hidden, httpd, QStringLiteral("`curl` command"), command, false);
    addAttemptRows(table,
                   QStringLiteral("loopback HTTP, window shown, with its repaint") + failures,
                   shown, QStringLiteral("bare libcurl"), bare, false);
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

// Presses Stop while the fetch waits, as often as asked: how long the attempt
// took to end after Stop, and the longest the event loop stood still.
void measureHangingFetch(const Options &options, const Tools &tools, Table &table)
{
    BenchRig rig;
    frmmain &window = rig.window();
    rig.setHosts({tools.server->host(QStringLiteral("/hang"))});
    window.show();

    QList<double> latencies;
    QList<double> stalls;
    for (int round = 0; round < options.stopRounds; ++round) {
        QElapsedTimer sinceStop;
        QTimer::singleShot(fetchMs, &window, [&] {
            sinceStop.start();
            window.Command3_Click();
        });
        const StallMeter stallMeter;
        window.Command1_Click();
        latencies.append(static_cast<double>(sinceStop.nsecsElapsed()) / 1e6);
        stalls.append(stallMeter.longestMs());
    }
    const QString condition = QStringLiteral("server that never answers");
    const std::optional<Summary> latency = summarize(latencies);
    table.add({Figure::StopLatency,
               QStringLiteral("Stop during a hanging fetch"),
               condition,
               Unit{QStringLiteral("ms"), 2},
               latency,
               {},
               {},
               QStringLiteral("≤ 100 ms"),
               medianAtMost(latency, 100)});
    const std::optional<Summary> stall = summarize(stalls);
    table.add({Figure::WindowStall,
               QStringLiteral("window during a hanging fetch"),
               QStringLiteral("longest gap between event-loop turns, per fetch"),
               Unit{QStringLiteral("ms"), 2},
               stall,
               {},
               {},
               QStringLiteral("≤ 20 ms"),
               medianAtMost(stall, 20)});
}

} // namespace

void measureFetches(const Options &options, const Tools &tools, Table &table)
{
    measureOneAttempt(options, tools, table);
    measureHangingFetch(options, tools, table);
}
