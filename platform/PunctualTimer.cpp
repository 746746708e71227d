#include "platform/PunctualTimer.h"

#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

PunctualTimer::PunctualTimer(QObject *parent)
    : QObject(parent), fd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    fallback_.setTimerType(Qt::PreciseTimer);
    connect(&fallback_, &QTimer::timeout, this, &PunctualTimer::timeout);
    if (fd_ < 0)
        return;
    expiry_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(expiry_.get(), &QSocketNotifier::activated, this, &PunctualTimer::expire);
}

PunctualTimer::~PunctualTimer()
{
    expiry_.reset();
    // Nothing is left to do should the close fail.
    if (fd_ >= 0)
        static_cast<void>(::close(fd_));
}

void PunctualTimer::start(int ms)
{
    interval_ = ms;
    start();
}

void PunctualTimer::start()
{
    active_ = true;
    arm(interval_);
}

void PunctualTimer::stop()
{
    active_ = false;
    arm(0);
}

void PunctualTimer::setInterval(int ms)
{
    interval_ = ms;
    if (active_)
        arm(interval_);
}

void PunctualTimer::arm(int ms)
{
    if (fd_ < 0) {
        ms > 0 ? fallback_.start(ms) : fallback_.stop();
        return;
    }
    const timespec period{ms / 1000, (ms % 1000) * 1'000'000L};
    const itimerspec every{period, period};
    if (timerfd_settime(fd_, 0, &every, nullptr) != 0) {
        fallBack();
        arm(ms);
    }
}

void PunctualTimer::expire()
{
    // However many intervals have passed (a suspended machine), one timeout:
    // as a QTimer would give.
    std::uint64_t expirations = 0;
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations)
        return; // woken for nothing: the timer was re-armed meanwhile
    emit timeout();
}

void PunctualTimer::fallBack()
{
    expiry_.reset();
    static_cast<void>(::close(fd_));
    fd_ = -1;
}
