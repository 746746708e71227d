#pragma once

#include <QString>

// The time of day, for the status line.
class Clock
{
public:
    virtual ~Clock() = default;
    // The local time of day in the locale's short time format.
    virtual QString timeOfDay() const = 0;
};

class SystemClock final : public Clock
{
public:
    QString timeOfDay() const override;
};
