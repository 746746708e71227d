#pragma once

#include <QString>

// The time of day, for the status line.
class Clock
{
public:
    virtual ~Clock() = default;
    // The local time of day in the locale's format, with hours, minutes and
    // seconds and without a time zone.
    virtual QString timeOfDay() const = 0;
};

class SystemClock final : public Clock
{
public:
    QString timeOfDay() const override;
};
