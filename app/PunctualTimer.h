#pragma once

#include <QProperty>
#include <QTimer>

// A timer that keeps to the millisecond over long intervals. The event loop
// waits for its next timer in poll() (see poll(2)), and Linux lets such a wait
// end up to 0.1 % late, to wake fewer times: 59 ms on a 59-second interval.
// The kernel gives a poll a slack of a thousandth of its wait, at most 100 ms
// (select_estimate_accuracy() in fs/select.c); the thread's timer slack of
// prctl(2) PR_SET_TIMERSLACK is only its floor. This timer wakes the loop
// once, a second before it is due, so that the last wait is one second long
// and at most a millisecond late.
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
