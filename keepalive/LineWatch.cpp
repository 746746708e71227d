#include "keepalive/LineWatch.h"

#include <utility>

std::optional<LineWatch::Change> LineWatch::observe(Outcome outcome)
{
    if (outcome == Outcome::Stopped)
        return std::nullopt;
    if (outcome == Outcome::Answered) {
        failuresInRow_ = 0;
        return std::exchange(lost_, false) ? std::optional(Change::Back) : std::nullopt;
    }
    if (failuresInRow_ < failuresBeforeLost_ && ++failuresInRow_ == failuresBeforeLost_) {
        lost_ = true;
        return Change::Lost;
    }
    return std::nullopt;
}
