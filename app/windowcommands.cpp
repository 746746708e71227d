// Window-level commands: the tray, closing, the home page and the proxy switch.

#include "app/frmmain.h"

#include <QCheckBox>
#include <QLineEdit>

void frmmain::totray() {}

void frmmain::Command9_Click()
{
    totray();
}

void frmmain::Form_MouseMove(int, int, float, float) {}

void frmmain::open_Click() {}

void frmmain::close_Click()
{
    Command2_Click();
}

void frmmain::Command2_Click() {}

void frmmain::Form_QueryUnload(int &, int) {}

void frmmain::unload() {}

void frmmain::Command4_Click() {}

void frmmain::Check1_Click()
{
    if (Check1->isChecked()) {
        Text1->setEnabled(true);
        QPalette colours = Text1->palette();
        colours.setColor(QPalette::Base, Qt::white);
        Text1->setPalette(colours);
    } else {
        Text1->setEnabled(false);
        Text1->setText(QString());
    }
}
