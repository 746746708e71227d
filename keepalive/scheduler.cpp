// The keep-alive scheduler: the 59-second tick, Start and Stop, and the
// interval display.

#include "app/frmmain.h"
#include "platform/PunctualTimer.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

void frmmain::Timer1_Timer()
{
    ++cnt_;
    if (cnt_ >= Slider1->value()) {
        cnk->setText(QString());
        attemptByChosenMethod();
    }
}

void frmmain::Command1_Click()
{
    Command1->setEnabled(false);
    Command3->setEnabled(true);
    start->setChecked(true);
    stop1->setChecked(false);
    // A Start after a Stop given during a fetch takes the cycle back.
    stopPrevails_ = false;
    attemptByChosenMethod();
}

void frmmain::start_Click()
{
    Command1_Click();
}

void frmmain::Command3_Click()
{
    abandonAttempt();
    showHalted(tr("Remote Host: "), tr("Status: "));
    Command1->setEnabled(true);
    Command3->setEnabled(false);
    start->setChecked(false);
    stop1->setChecked(true);
}

void frmmain::stop1_Click()
{
    Command3_Click();
}

void frmmain::Slider1_MouseUp()
{
    showInterval();
}

void frmmain::showInterval()
{
    Label5->setText(tr("Connect every %n minute(s)", nullptr, Slider1->value()));
}
