#pragma once

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <optional>
#include <sys/types.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

// Met when the median is at most the limit (with a reference, the ratio of
// the medians is, unless the limit is not of the reference), or, given low,
// when every run lies within [low, limit].
struct Target {
    QString text;
    double limit = 0;
    std::optional<double> low = {};
    bool ofReference = true; // false: the limit is in the row's unit, whatever the reference
};

// One line of the table; without a target it only informs.
struct Row {
    QString figure, measuredOn, unit;
    QList<double> quorrel;
    std::optional<Target> target = {};
    QString referenceName = {};
    QList<double> reference = {};
};
QString markdown(const QList<Row> &rows);

// A program the bench started. It prints to an anonymous file, which no pipe
// wakes the bench for; the kernel ends it should the bench end first.
struct Child {
    pid_t pid = 0;
    int output = -1;
};
Child spawn(const QString &program, const QStringList &arguments, const QStringList &environment);
QByteArray outputOf(const Child &child);
// The number after the tag in the first line it prints that begins with it.
std::optional<double> awaitValue(const Child &child, const QByteArray &tag,
                                 std::chrono::milliseconds limit);
// Once it has ended: its output and CPU time (user + system, from wait4).
struct Ended {
    QByteArray output;
    double cpuMs = 0;
};
Ended reap(Child &child);
void end(Child &child);
// The number after the tag in each line of the text that begins with it.
QList<double> valuesTagged(const QByteArray &text, const QByteArray &tag);
// From the tests' support (tests/support/TestRig): the file's bytes, or none.
QByteArray fileBytes(const QString &fileName);

// This program, the folder of the probe's programs, the loopback server
// ("127.0.0.1:port"), and a home for the programs the bench starts, whose
// settings point them at the server with the interval at 30 minutes.
struct Tools {
    QString bench, directory, host;
    QTemporaryDir home{};
    // Offscreen without a display; each program that runs beside others of the
    // same home needs a runtime folder of its own, or it hands over to the first.
    QStringList environment(const QString &xDisplay = {}, const QString &runtime = {}) const;
};

// The probes, each giving one or more rows.
QList<Row> startupRows(const Tools &tools, const QString &display);
QList<Child> startIdlers(const Tools &tools); // two running (Start pressed), two stopped
QList<Row> idleRows(QList<Child> &idlers);
QList<Row> fetchRows(const Tools &tools);
QList<Row> hangingFetchRows(const Tools &tools);
QList<Row> wireRows(const Tools &tools);         // in network namespaces of their own
QList<Row> timeOutRows(Child &http, Child &ftp); // of two --time-out helpers
QList<Row> hostListRows();
QList<Row> historyRows();
QList<Row> soakRows(const Tools &tools);

// The bench's helper processes, by their first argument.
int serveChild();
int timeOutChild(const QStringList &arguments);
int soakChild(const QStringList &hosts);
int wireChild();
