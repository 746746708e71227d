#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

// A repeating timer that wakes the program once per interval, on time to the
// millisecond. The event loop waits for a QTimer in poll(2), and Linux lets
// such a wait end up to 0.1 % late so as to wake less often: 59 ms on a
// 59-second interval. A timerfd(2) has no such slack, and the loop waits for
// it as for any file, with no time-out of its own. Should no timerfd be had,
// a precise QTimer stands in.
class PunctualTimer final : public QObject
{
    Q_OBJECT

public:
    explicit PunctualTimer(QObject *parent = nullptr);
    ~PunctualTimer() override;
    PunctualTimer(const PunctualTimer &) = delete;
    PunctualTimer &operator=(const PunctualTimer &) = delete;

    // As QTimer's: starting a running timer, or giving it a new interval,
    // starts its interval again.
    void start(int ms);
    void start();
    void stop();
    void setInterval(int ms);
    int interval() const { return interval_; }
    bool isActive() const { return active_; }

signals:
    void timeout();

private:
    // Runs the timer every `ms` from now, or ends it for 0.
    void arm(int ms);
    void expire();
    void fallBack();

    int fd_ = -1;
    int interval_ = 0;
    bool active_ = false;
    std::unique_ptr<QSocketNotifier> expiry_;
    QTimer fallback_;
};
