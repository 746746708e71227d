// The measurements that mostly wait, each in processes of its own so that
// they can run while the bench measures the rest:
//
// - idle wake-ups: the program (stopped, and running between ticks) and the
//   bare window, idle on each screen; a thread of the bench reads their
//   context switches from /proc every slice of the window, which never wakes
//   them;
// - the time-outs of HTTP and FTP against a server that never answers, side
//   by side;
// - with --long, the period of two ticks of Timer1.

#include "bench/BenchRig.h"
#include "bench/Measurements.h"
#include "platform/PunctualTimer.h"

#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{

// The window opens this long after "ready": Qt's raster engine paints the
// first frames with threads of a pool, which end after 30 s without work,
// once. Those wake-ups are counted apart, as the settling.
constexpr std::chrono::seconds settleTime{35};
constexpr std::chrono::seconds sliceLength{15};
constexpr std::chrono::milliseconds tickPeriod{59000};
constexpr std::chrono::seconds readyLimit{30};
constexpr double allowedPerMinute = 2;

struct IdleSubject {
    bool isQuorrel = true;
    QString state;
    Screen screen;
    bool ticking = false;
    std::unique_ptr<Helper> process;
    std::optional<SteadyTime> ready;
};

struct Snapshot {
    SteadyTime at;
    std::vector<std::optional<ThreadSwitches>> switches; // by subject
};

std::unique_ptr<Helper> startIdle(const Tools &tools, const IdleSubject &subject)
{
    QStringList arguments{QStringLiteral("idle")};
    if (subject.ticking)
        arguments.append(QStringLiteral("Command1")); // Start
    return std::make_unique<Helper>(subject.isQuorrel ? tools.quorrel : tools.bareWindow, arguments,
                                    tools.profile->environment(subject.screen));
}

int ticksBetween(const IdleSubject &subject, SteadyTime from, SteadyTime to)
{
    if (!subject.ticking || !subject.ready)
        return 0;
    const auto count = [&](SteadyTime until) {
        return static_cast<int>((until - *subject.ready) / tickPeriod);
    };
    return count(to) - count(from);
}

// Wake-ups a minute beyond the ticks, over each slice and over the window.
struct IdleRates {
    QList<double> perSlice;
    std::optional<double> window;
    qint64 switches = 0;
    int ticks = 0;
};

IdleRates ratesOf(const IdleSubject &subject, std::size_t index,
                  const std::vector<Snapshot> &snapshots)
{
    IdleRates rates;
    const auto perMinute = [](qint64 wakeUps, SteadyTime from, SteadyTime to) {
        return static_cast<double>(wakeUps) * 60000 / millisecondsBetween(from, to);
    };
    for (std::size_t slice = 0; slice + 1 < snapshots.size(); ++slice) {
        const Snapshot &from = snapshots[slice];
        const Snapshot &to = snapshots[slice + 1];
        if (!from.switches[index] || !to.switches[index])
            return {};
        const int ticks = ticksBetween(subject, from.at, to.at);
        const qint64 switches = switchesBetween(*from.switches[index], *to.switches[index]);
        rates.perSlice.append(perMinute(switches - ticks, from.at, to.at));
        rates.switches += switches;
        rates.ticks += ticks;
    }
    if (!rates.perSlice.isEmpty())
        rates.window =
            perMinute(rates.switches - rates.ticks, snapshots.front().at, snapshots.back().at);
    return rates;
}

QStringList linesUntilEnd(Helper &helper, std::chrono::milliseconds limit)
{
    QStringList lines;
    while (const std::optional<QString> line = helper.nextLine(limit))
        lines.append(*line);
    return lines;
}

QList<double> valuesAfter(const QStringList &lines, const QString &tag, double scale)
{
    QList<double> values;
    for (const QString &line : lines) {
        if (line.startsWith(tag + u' '))
            values.append(line.section(u' ', 1, 1).toDouble() * scale);
    }
    return values;
}

} // namespace

class Waits::Private
{
public:
    Options options;
    std::vector<IdleSubject> subjects;
    Snapshot settling; // when the programs were ready
    std::vector<Snapshot> snapshots;
    std::thread watcher;
    std::unique_ptr<Helper> httpTimeOut;
    std::unique_ptr<Helper> ftpTimeOut;
    std::unique_ptr<Helper> ticks;

    void startIdleSubjects(const Tools &tools, const QList<Screen> &screens);
    void watch();
    std::size_t bareWindowOn(const Screen &screen) const;
    qint64 settlingSwitches(std::size_t index) const;
    void reportIdle(Table &table) const;
    void reportTimeOut(Table &table, Helper &helper, const QString &method, double seconds) const;
    void reportTicks(Table &table) const;
};

void Waits::Private::startIdleSubjects(const Tools &tools, const QList<Screen> &screens)
{
    for (const Screen &screen : screens) {
        subjects.push_back({true, QStringLiteral("stopped"), screen, false, {}, {}});
        subjects.push_back({true, QStringLiteral("running between ticks"), screen, true, {}, {}});
        subjects.push_back({false, {}, screen, false, {}, {}});
    }
    for (IdleSubject &subject : subjects)
        subject.process = startIdle(tools, subject);
    for (IdleSubject &subject : subjects) {
        if (subject.process->nextLine(readyLimit) == QStringLiteral("ready"))
            subject.ready = std::chrono::steady_clock::now();
    }
}

// On the watcher thread: nothing here touches a Qt object of the bench's.
void Waits::Private::watch()
{
    std::vector<qint64> pids;
    for (const IdleSubject &subject : subjects)
        pids.push_back(subject.process->pid());
    const auto takeSnapshot = [&] {
        Snapshot snapshot{std::chrono::steady_clock::now(), {}};
        for (const qint64 pid : pids)
            snapshot.switches.push_back(contextSwitches(pid));
        return snapshot;
    };
    settling = takeSnapshot();
    const SteadyTime start = settling.at + settleTime;
    const auto slices = options.idleWindow / sliceLength;
    for (long slice = 0; slice <= slices; ++slice) {
        std::this_thread::sleep_until(start + slice * sliceLength);
        snapshots.push_back(takeSnapshot());
    }
}

std::size_t Waits::Private::bareWindowOn(const Screen &screen) const
{
    const auto bare = std::ranges::find_if(subjects, [&](const IdleSubject &subject) {
        return !subject.isQuorrel && subject.screen.name == screen.name;
    });
    return static_cast<std::size_t>(bare - subjects.begin());
}

qint64 Waits::Private::settlingSwitches(std::size_t index) const
{
    const std::optional<ThreadSwitches> &before = settling.switches[index];
    const std::optional<ThreadSwitches> &after = snapshots.front().switches[index];
    return before && after ? switchesBetween(*before, *after) : 0;
}

void Waits::Private::reportIdle(Table &table) const
{
    const QString window =
        QStringLiteral("%1 s from %2 s after ready")
            .arg(options.idleWindow.count())
            .arg(settleTime.count()) +
        (options.longRun ? QString() : QStringLiteral(" (quick; 120 s with --long)"));
    for (std::size_t index = 0; index < subjects.size(); ++index) {
        const IdleSubject &subject = subjects[index];
        if (!subject.isQuorrel)
            continue;
        const IdleRates rates = ratesOf(subject, index, snapshots);
        const std::size_t bareIndex = bareWindowOn(subject.screen);
        const IdleRates bare = ratesOf(subjects[bareIndex], bareIndex, snapshots);
        const QString note =
            rates.window
                ? QStringLiteral("%1 a minute over the window (%2 switches, %3 ticks); %4 while "
                                 "settling")
                      .arg(*rates.window, 0, 'f', 1)
                      .arg(rates.switches)
                      .arg(rates.ticks)
                      .arg(settlingSwitches(index))
                : QStringLiteral("the program did not become ready");
        table.add(
            {Figure::IdleWakeups, QStringLiteral("idle wake-ups, ") + subject.state,
             subject.screen.name + QStringLiteral(", ") + window,
             Unit{QStringLiteral("a minute"), 1}, summarize(rates.perSlice),
             QStringLiteral("bare window"), summarize(bare.perSlice),
             QStringLiteral("≤ 2 a minute beyond the tick"),
             rates.window ? std::optional<bool>(*rates.window <= allowedPerMinute) : std::nullopt,
             note});
    }
}

void Waits::Private::reportTimeOut(Table &table, Helper &helper, const QString &method,
                                   double seconds) const
{
    const std::chrono::milliseconds limit{static_cast<int>(seconds * 1000) + 30000};
    const QStringList lines = linesUntilEnd(helper, limit);
    const std::optional<Summary> times = summarize(valuesAfter(lines, QStringLiteral("ms"), 1e-3));
    const QList<double> wrong = valuesAfter(lines, QStringLiteral("wrong"), 1);
    table.add({Figure::Timeout,
               QStringLiteral("time-out, ") + method,
               QStringLiteral("server that never answers; Start until \"could not connect\""),
               Unit{QStringLiteral("s"), 3},
               times,
               {},
               {},
               QStringLiteral("%1 s ± 0.3 s").arg(seconds),
               wrong.isEmpty() ? allWithin(times, seconds - 0.3, seconds + 0.3) : false,
               wrong.isEmpty() ? QString()
                               : QStringLiteral("%1 runs ended otherwise").arg(wrong.size())});
}

void Waits::Private::reportTicks(Table &table) const
{
    const QString name = QStringLiteral("tick period");
    const QString condition = QStringLiteral("two ticks of Timer1 after an attempt");
    const QString target = QStringLiteral("59,000 ms ± 5 ms");
    const Unit unit{QStringLiteral("ms"), 1};
    if (!ticks) {
        table.add({Figure::TickPeriod,
                   name,
                   condition,
                   unit,
                   {},
                   {},
                   {},
                   target,
                   {},
                   QStringLiteral("measured with --long only")});
        return;
    }
    const std::optional<Summary> periods = summarize(
        valuesAfter(linesUntilEnd(*ticks, std::chrono::minutes(3)), QStringLiteral("ms"), 1));
    table.add({Figure::TickPeriod,
               name,
               condition,
               unit,
               periods,
               {},
               {},
               target,
               allWithin(periods, 58995, 59005)});
}

Waits::Waits(const Options &options, const Tools &tools, const std::optional<Screen> &xServer)
    : d_(std::make_unique<Private>())
{
    d_->options = options;
    QList<Screen> screens{Screen{QStringLiteral("offscreen"), {}}};
    if (xServer)
        screens.append(*xServer);
    d_->startIdleSubjects(tools, screens);
    d_->watcher = std::thread([this] { d_->watch(); });

    const QString runs = QString::number(options.timeOutRuns);
    const auto timeOut = [&](const QString &method, const QString &path) {
        return std::make_unique<Helper>(
            tools.bench,
            QStringList{QStringLiteral("--time-out"), method, tools.server->host(path), runs},
            QProcessEnvironment::systemEnvironment());
    };
    // A request that is never answered for HTTP; for FTP, a server that never
    // sends its greeting.
    d_->httpTimeOut = timeOut(QStringLiteral("http"), QStringLiteral("/hang"));
    d_->ftpTimeOut = timeOut(QStringLiteral("ftp"), QString());
    if (options.longRun) {
        d_->ticks = std::make_unique<Helper>(
            tools.bench,
            QStringList{QStringLiteral("--ticks"), tools.server->host(QStringLiteral("/html"))},
            QProcessEnvironment::systemEnvironment());
    }
}

Waits::~Waits()
{
    if (d_->watcher.joinable())
        d_->watcher.join();
}

void Waits::report(Table &table)
{
    d_->watcher.join();
    d_->reportIdle(table);
    d_->subjects.clear();
    d_->reportTimeOut(table, *d_->httpTimeOut, QStringLiteral("HTTP"), 15);
    d_->reportTimeOut(table, *d_->ftpTimeOut, QStringLiteral("FTP"), 20);
    d_->reportTicks(table);
}

// --time-out METHOD HOST RUNS: presses Start against the host and prints
// "ms N" for each run that ended in "could not connect", "wrong N" otherwise.
int timeOutChild(const QStringList &arguments)
{
    BenchRig rig;
    frmmain &window = rig.window();
    rig.setHosts({arguments.value(1)});
    (arguments.value(0) == u"ftp" ? window.ftp : window.http)->setChecked(true);
    window.show();
    const int runs = arguments.value(2).toInt();
    for (int run = 0; run < runs; ++run) {
        const SteadyTime started = std::chrono::steady_clock::now();
        window.Command1_Click();
        const double ms = millisecondsBetween(started, std::chrono::steady_clock::now());
        const bool failed = window.Label2->text().endsWith(QStringLiteral("could not connect"));
        std::printf("%s %.1f\n", failed ? "ms" : "wrong", ms);
        std::fflush(stdout);
        window.Command3_Click();
    }
    return 0;
}

// --ticks HOST: presses Start and prints "ms N" for the first two periods of
// Timer1, the first from the end of the attempt. The interval is 30 minutes,
// so that the ticks only count.
int ticksChild(const QStringList &arguments)
{
    BenchRig rig;
    frmmain &window = rig.window();
    rig.setHosts({arguments.value(0)});
    window.Slider1->setValue(30);
    window.show();
    SteadyTime last;
    int ticks = 0;
    QObject::connect(window.Timer1, &PunctualTimer::timeout, [&] {
        const SteadyTime now = std::chrono::steady_clock::now();
        std::printf("ms %.1f\n", millisecondsBetween(last, now));
        std::fflush(stdout);
        last = now;
        if (++ticks == 2)
            QApplication::quit();
    });
    QTimer::singleShot(0, &window, [&] {
        window.Command1_Click();
        last = std::chrono::steady_clock::now();
    });
    return QApplication::exec();
}
