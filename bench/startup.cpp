// Start-up: the program as built for the bench (its own main() and libraries,
// plus the first-show probe) against a bare Qt window with the same probe.
// Each run is a new process, timed from just before it is created until its
// first window has been painted. The probe reports the peak memory; the CPU
// time comes from the kernel's account of the ended process.

#include "bench/Measurements.h"

namespace
{

struct Samples {
    QList<double> shownMs;
    QList<double> cpuMs;
    QList<double> peakMiB;
    int failed = 0;
};

void startOnce(const QString &program, const QProcessEnvironment &environment, Samples &samples)
{
    const std::optional<FinishedRun> run = runToEnd(program, {QStringLiteral("show")}, environment);
    const QByteArray line = run ? run->output.trimmed() : QByteArray();
    if (!line.startsWith("shown ")) {
        ++samples.failed;
        return;
    }
    const QList<QByteArray> fields = line.split(' ');
    const SteadyTime shown(std::chrono::nanoseconds(fields.value(1).toLongLong()));
    samples.shownMs.append(millisecondsBetween(run->started, shown));
    samples.cpuMs.append(run->cpuMs);
    samples.peakMiB.append(fields.value(2).toDouble() / 1024);
}

QString failures(const Samples &quorrel, const Samples &bare)
{
    if (quorrel.failed == 0 && bare.failed == 0)
        return {};
    return QStringLiteral("%1 + %2 runs reported no window").arg(quorrel.failed).arg(bare.failed);
}

} // namespace

void measureStartup(const Options &options, const Tools &tools, const Screen &screen, Table &table)
{
    const QProcessEnvironment environment = tools.profile->environment(screen);
    Samples quorrel;
    Samples bare;
    // The first start of each fills the caches of the system (libraries, fonts).
    Samples warmUp;
    startOnce(tools.quorrel, environment, warmUp);
    startOnce(tools.bareWindow, environment, warmUp);
    for (int run = 0; run < options.startupRuns; ++run) {
        // Taking turns spreads a passing load of the machine over both.
        startOnce(tools.quorrel, environment, quorrel);
        startOnce(tools.bareWindow, environment, bare);
    }
    const QString note = failures(quorrel, bare);
    const QString bareName = QStringLiteral("bare window");

    Row shown{Figure::Startup,
              QStringLiteral("start-up to window shown"),
              screen.name,
              Unit{QStringLiteral("ms"), 1},
              summarize(quorrel.shownMs),
              bareName,
              summarize(bare.shownMs),
              QStringLiteral("≤ 1.5 × bare window")};
    shown.met = ratioAtMost(shown, 1.5);
    shown.note = note;
    table.add(shown);

    table.add({Figure::Startup, QStringLiteral("start-up CPU time"), screen.name,
               Unit{QStringLiteral("ms"), 1}, summarize(quorrel.cpuMs), bareName,
               summarize(bare.cpuMs)});

    Row memory{Figure::PeakMemory,
               QStringLiteral("peak memory (RSS)"),
               screen.name,
               Unit{QStringLiteral("MiB"), 1},
               summarize(quorrel.peakMiB),
               bareName,
               summarize(bare.peakMiB),
               QStringLiteral("≤ 1.3 × bare window")};
    memory.met = ratioAtMost(memory, 1.3);
    table.add(memory);
}
