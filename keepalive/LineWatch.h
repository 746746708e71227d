#pragma once

// Whether the line is lost or back, judged from the outcome of each attempt:
// lost once the failures in a row reach a count, back at the first answer
// after that, and nothing in between.

#include <optional>

class LineWatch
{
public:
    enum class Outcome { Answered, Failed, Stopped };
    enum class Change { Lost, Back };

    // From the settings; 0: the line is never called lost.
    void setFailuresBeforeLost(int count) { failuresBeforeLost_ = count; }

    // A stop says nothing about the line: it neither counts nor breaks a row.
    [[nodiscard]] std::optional<Change> observe(Outcome outcome);

private:
    int failuresBeforeLost_ = 0;
    int failuresInRow_ = 0; // counted up to failuresBeforeLost_
    bool lost_ = false;     // "lost" was answered, "back" is due
};
