#pragma once

#include "platform/Random.h"

#include <QList>

// Hands out the scripted numbers in turn (0 once they are used up) and counts
// the seedings.
class ScriptedRandom final : public Random
{
public:
    QList<float> draws;
    int seeds = 0;

    void seedFromClock() override { ++seeds; }
    float draw() override { return drawn_ < draws.size() ? draws[drawn_++] : 0.0f; }

private:
    qsizetype drawn_ = 0;
};
