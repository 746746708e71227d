#pragma once

#include <QProperty>
#include <QTimer>

// A timer that keeps to the millisecond over long intervals. The event loop
// waits for its next timer in poll(), and Linux lets such a wait end up to
// 0.1 % late, to wake fewer times: 59 ms on a 59-second interval. This timer
// wakes the loop once, a second before it is due, so that the last wait is
// one second long and at most a millisecond late.
class PunctualTimer final : public QTimer
{
    Q_OBJECT

public:
    explicit PunctualTimer(QObject *parent = nullptr);

private:
    void armApproach();

    QTimer approach_;
    QPropertyNotifier whenStartedOrStopped_;
};
