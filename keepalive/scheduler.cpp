// The keep-alive scheduler: the 59-second tick, Start and Stop, and the
// interval display.

#include "app/frmmain.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

void frmmain::Timer1_Timer() {}

void frmmain::Command1_Click() {}

void frmmain::start_Click()
{
    Command1_Click();
}

void frmmain::Command3_Click()
{
    Label1->setText(tr("Remote Host: "));
    Label2->setText(tr("Status: "));
    Timer1->stop();
    Label4->setText(tr("Failed Connections: "));
    Label3->setText(tr("Successful Connections: "));
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
    Label5->setText(tr("Connect every ") + QString::number(Slider1->value()) + tr(" minute(s)"));
}

void frmmain::httpd() {}

void frmmain::ftpd() {}
