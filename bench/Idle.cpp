// The program as shipped, idle offscreen, running (Start pressed) or stopped. The bench reads
// their context switches from /proc, which never wakes them, after measuring the rest.

#include "bench/Bench.h"

#include <QDir>
#include <QMap>
#include <algorithm>
#include <cmath>
#include <thread>

namespace
{

constexpr double tickMs = 59000;
// From just after a tick to just after the second one on: two ticks, and nothing
// of the start-up (Qt's pool of paint threads ends after 30 s without work).
constexpr double afterTickMs = 1500;

// Context switches, voluntary and involuntary, by thread.
using ThreadSwitches = QMap<QString, double>;

ThreadSwitches switchesOf(pid_t pid)
{
    const QDir tasks(u"/proc/%1/task"_s.arg(pid));
    ThreadSwitches switches;
    for (const QString &thread : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray status = fileBytes(tasks.filePath(thread + u"/status"_s));
        switches.insert(thread, valuesTagged(status, "voluntary_ctxt_switches:").value(0) +
                                    valuesTagged(status, "nonvoluntary_ctxt_switches:").value(0));
    }
    return switches;
}

// A thread that has ended in between counts once, for the wake-up that ended it.
double switchesBetween(const ThreadSwitches &before, const ThreadSwitches &after)
{
    double switches = 0;
    for (const auto &[thread, count] : before.asKeyValueRange())
        switches += after.value(thread, count + 1) - count;
    for (const auto &[thread, count] : after.asKeyValueRange())
        switches += before.contains(thread) ? 0 : count;
    return switches;
}

} // namespace

QList<Child> startIdlers(const Tools &tools)
{
    QList<Child> idlers;
    for (const QString &mode : {u"run"_s, u"run"_s, u"idle"_s, u"idle"_s}) {
        const QString runtime = tools.home.filePath(u"run%1"_s.arg(idlers.size()));
        if (!QDir().mkpath(runtime) ||
            !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            qFatal("no runtime folder for an idle program");
        idlers.append(
            spawn(tools.directory + u"/quorrel-probe"_s, {mode}, tools.environment({}, runtime)));
        // Their start-ups would fall into the measurements that follow.
        static_cast<void>(awaitValue(idlers.last(), "ready ", 60s));
    }
    return idlers;
}

QList<Row> idleRows(QList<Child> &idlers)
{
    // The steady clock in ms, as the probe prints it.
    const auto steadyMs = [] {
        return std::chrono::steady_clock::now().time_since_epoch() / 1.0ms;
    };
    const double ready = valuesTagged(outputOf(idlers.first()), "ready ").value(0);
    const double from =
        ready + (std::floor((steadyMs() - ready) / tickMs) + 1) * tickMs + afterTickMs;
    const double to = from + 2 * tickMs;
    QList<ThreadSwitches> atFrom;
    std::this_thread::sleep_for((from - steadyMs()) * 1ms);
    for (const Child &idler : idlers)
        atFrom.append(switchesOf(idler.pid));
    std::this_thread::sleep_for((to - steadyMs()) * 1ms);
    QList<double> perTick;
    QList<double> lateness;
    QList<double> perMinute;
    for (qsizetype index = 0; index < idlers.size(); ++index) {
        const double switches = switchesBetween(atFrom[index], switchesOf(idlers[index].pid));
        // The first tick is due a period after the end of the first attempt ("ready").
        const QByteArray output = outputOf(idlers[index]);
        const QList<double> ticks = valuesTagged(output, "ready ") + valuesTagged(output, "tick ");
        end(idlers[index]);
        if (index >= idlers.size() / 2) { // stopped
            perMinute.append(switches * 60000 / (to - from));
            continue;
        }
        const auto inWindow =
            std::ranges::count_if(ticks, [&](double tick) { return tick > from && tick < to; });
        if (inWindow > 0)
            perTick.append(switches / inWindow);
        for (qsizetype tick = 1; tick < ticks.size(); ++tick)
            lateness.append(ticks[tick] - ticks[tick - 1] - tickMs);
    }
    const QString on = u"offscreen, idle, interval 30 min; "_s;
    return {{u"wake-ups per tick, running"_s, on + u"all threads, two ticks from just after one"_s,
             u"per tick"_s, perTick, Target{u"≤ 1 per tick"_s, 1}},
            {u"tick lateness"_s,
             on + u"Timer1's timeout − (the one before, or the end of the first attempt, + 59 s)"_s,
             u"ms"_s, lateness, Target{u"≤ 1 ms, every tick"_s, 1, -tickMs}},
            {u"wake-ups a minute, stopped"_s, on + u"all threads, the same two minutes"_s,
             u"a minute"_s, perMinute, Target{u"0, every run"_s, 0, 0}}};
}
