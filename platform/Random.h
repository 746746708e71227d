#pragma once

#include <random>

// Random numbers for picking a host at random.
class Random
{
public:
    virtual ~Random() = default;
    // Starts a new sequence from the system clock.
    virtual void seedFromClock() = 0;
    // The next number r of the sequence, 0 <= r < 1.
    virtual float draw() = 0;
};

class ClockSeededRandom final : public Random
{
public:
    void seedFromClock() override;
    float draw() override;

private:
    std::mt19937 engine_;
};
