#include "app/PunctualTimer.h"

namespace
{

constexpr int approachMs = 1000;

} // namespace

PunctualTimer::PunctualTimer(QObject *parent) : QTimer(parent)
{
    // The approach only wakes the loop, which then waits the last second.
    approach_.setSingleShot(true);
    approach_.setTimerType(Qt::PreciseTimer);
    whenStartedOrStopped_ = bindableActive().addNotifier([this] { armApproach(); });
    // A running timer starts its next interval as it fires.
    connect(this, &QTimer::timeout, this, &PunctualTimer::armApproach);
}

void PunctualTimer::armApproach()
{
    // A short interval is waited out precisely enough as it is.
    if (!isActive() || interval() <= 2 * approachMs) {
        approach_.stop();
        return;
    }
    approach_.start(interval() - approachMs);
}
