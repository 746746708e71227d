#include "platform/Random.h"

#include <chrono>
#include <cstdint>

void ClockSeededRandom::seedFromClock()
{
    // Nanoseconds, so that two seeds taken close together still differ.
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    std::seed_seq seed{static_cast<std::uint32_t>(now), static_cast<std::uint32_t>(now >> 32)};
    engine_.seed(seed);
}

float ClockSeededRandom::draw()
{
    // 24 random bits fill a float's mantissa exactly, so r never rounds up to 1.
    constexpr float steps = 1 << 24;
    return static_cast<float>(engine_() >> 8) / steps;
}
