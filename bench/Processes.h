#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <optional>

using SteadyTime = std::chrono::steady_clock::time_point;

double millisecondsBetween(SteadyTime from, SteadyTime to);

// A program run to its end to be measured: what it printed and what it cost.
struct FinishedRun {
    QByteArray output;
    SteadyTime started; // just before the process was created
    SteadyTime ended;   // once it had ended and been reaped
    double cpuMs = 0;   // user and system time
};

// Runs program with exactly the given environment; its error output is dropped.
// Nothing when it could not be started or did not end normally.
std::optional<FinishedRun> runToEnd(const QString &program, const QStringList &arguments,
                                    const QProcessEnvironment &environment);

// A program the bench keeps running beside it, its error output dropped. It
// ends with this object, or with the bench should the bench die first.
class Helper
{
public:
    Helper(const QString &program, const QStringList &arguments,
           const QProcessEnvironment &environment);
    ~Helper();
    Helper(const Helper &) = delete;
    Helper &operator=(const Helper &) = delete;

    // The next line it prints, without the line break; nothing when none
    // comes within the time limit.
    std::optional<QString> nextLine(std::chrono::milliseconds limit);
    qint64 pid() const { return process_.processId(); }

private:
    QProcess process_;
};

// Context switches, voluntary and involuntary, of each thread the process has
// now, by thread id. Reading them does not wake the process.
using ThreadSwitches = QMap<QString, qint64>;
std::optional<ThreadSwitches> contextSwitches(qint64 pid);
// The switches from one reading to a later one. A thread that has ended in
// between took its count with it: it counts once, for the wake-up that ended it.
qint64 switchesBetween(const ThreadSwitches &before, const ThreadSwitches &after);

// The process's resident memory now, in KiB.
qint64 residentKiB();

// Where a child draws its windows: the offscreen platform or an X display.
struct Screen {
    QString name;
    QString display; // ":N"; empty for offscreen
};

// An X server of the bench's own (Xvfb), on the first free display.
class XServer
{
public:
    XServer();
    std::optional<Screen> screen() const { return screen_; }

private:
    Helper process_;
    std::optional<Screen> screen_;
};

// A home of the bench's own for the programs it starts, so that the user's
// settings and registry are neither read nor written. Its settings point
// Quorrel at one host, with the interval at 30 minutes, so that a tick
// between attempts does nothing but count.
class Profile
{
public:
    explicit Profile(const QString &host);
    QProcessEnvironment environment(const Screen &screen) const;

private:
    QTemporaryDir home_;
};

// The loopback HTTP server of the tests (LocalHttpServer), in a process of
// its own so that its work is never counted as the client's.
class Server
{
public:
    explicit Server(const QString &bench);
    bool isRunning() const { return port_ != 0; }
    // "127.0.0.1:port/path"
    QString host(const QString &path) const;
    QString url(const QString &path) const;

private:
    Helper process_;
    quint16 port_ = 0;
};

// A loopback port where nothing listens: a connection to it is refused.
quint16 refusingPort();
