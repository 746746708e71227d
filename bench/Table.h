#pragma once

#include <QList>
#include <QString>
#include <optional>

// The median of repeated runs, with the smallest and the largest.
struct Summary {
    double median = 0;
    double min = 0;
    double max = 0;
    qsizetype runs = 0;
};

// Nothing for no values.
std::optional<Summary> summarize(QList<double> values);

// The figures, in the order the table lists them.
enum class Figure {
    Startup,
    PeakMemory,
    IdleWakeups,
    OneAttempt,
    StopLatency,
    WindowStall,
    Timeout,
    TickPeriod,
    HostLists,
    MemoryOverTime,
};

// How a figure is written: its unit and the digits after the point.
struct Unit {
    QString name;
    int decimals = 1;
};

struct Row {
    Figure figure;
    QString name;
    QString condition;
    Unit unit;
    std::optional<Summary> measured; // nothing when it could not be measured
    QString referenceName = {};
    std::optional<Summary> reference = {};
    QString target = {};
    std::optional<bool> met = {}; // nothing when the row has no target
    QString note = {};            // why a figure is missing, or what else to know
};

// One Markdown table of every figure, whatever order they were measured in.
class Table
{
public:
    void add(Row row);
    QString markdown() const;

private:
    QList<Row> rows_;
};

// Whether a median ratio stays within the limit; nothing without both figures.
std::optional<bool> ratioAtMost(const Row &row, double limit);
// Whether the median stays within the limit; nothing without a figure.
std::optional<bool> medianAtMost(const std::optional<Summary> &summary, double limit);
// Whether every run lies within [low, high]; nothing without a figure.
std::optional<bool> allWithin(const std::optional<Summary> &summary, double low, double high);
