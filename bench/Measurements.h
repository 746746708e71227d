#pragma once

#include "bench/Processes.h"
#include "bench/Table.h"

#include <QStringList>
#include <chrono>
#include <memory>

// How many runs each figure takes. The default run is short; --long waits
// out the full idle windows and the tick period.
struct Options {
    bool longRun = false;
    int startupRuns = 10;
    int attemptRuns = 30;
    int stopRounds = 10;
    int hostListRuns = 5;
    int editRuns = 20;
    int timeOutRuns = 3;
    int soakRuns = 3;
    int soakAttempts = 5000;
    std::chrono::seconds idleWindow{45};
};

// What the measurements share: the programs and the peers they talk to.
struct Tools {
    QString bench;      // this program, for the helpers it runs
    QString quorrel;    // the program with the first-show probe
    QString bareWindow; // the reference window with the same probe
    const Server *server = nullptr;
    const Profile *profile = nullptr;
};

// Start-up time, start-up CPU and peak memory against the bare window.
void measureStartup(const Options &options, const Tools &tools, const Screen &screen, Table &table);
// One attempt against a bare libcurl transfer and the curl command; Stop and
// the event loop during a hanging fetch.
void measureFetches(const Options &options, const Tools &tools, Table &table);
// Save and load of long host lists; Add and Remove in a long one.
void measureHostLists(const Options &options, Table &table);
// Resident memory over thousands of attempts.
void measureMemoryOverTime(const Options &options, const Tools &tools, Table &table);

// The measurements that mostly wait: idle wake-ups, the time-outs and the
// tick period. Each runs in processes of its own, started at construction,
// while the bench measures everything else.
class Waits
{
public:
    Waits(const Options &options, const Tools &tools, const std::optional<Screen> &xServer);
    ~Waits();
    Waits(const Waits &) = delete;
    Waits &operator=(const Waits &) = delete;
    // Waits for them to end and adds their rows.
    void report(Table &table);

private:
    class Private;
    std::unique_ptr<Private> d_;
};

// The entry points of the bench's helper processes, by their first argument.
int serveHttp();
int timeOutChild(const QStringList &arguments);
int ticksChild(const QStringList &arguments);
int soakChild(const QStringList &arguments);
