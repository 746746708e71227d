#pragma once

#include "platform/Clock.h"

// A clock that always shows the same time of day.
class FixedClock final : public Clock
{
public:
    QString time = QStringLiteral("12:34");

    QString timeOfDay() const override { return time; }
};
