// The load step: fills the window once, before it is first shown.

#include "app/frmmain.h"
#include "platform/PunctualTimer.h"

#include <QPlainTextEdit>

void frmmain::Form_Load()
{
    readCurrentTcpValues();
    Timer1->setInterval(59000);
    Text2->setPlainText(tr(
        "Quorrel is an Internet application that will enhance your online connection by "
        "preventing disconnections. Internet Service Providers have the ability to disconnect "
        "your dial up connection after a specified period of inactivity. This program will "
        "connect to a remote host through the HTTP or FTP protocol at a specified interval. Your "
        "Internet Service Provider will show that your connection is active and therefore not "
        "disconnect you. This program will work with America Online, Prodigy or any Internet "
        "Service Provider using TCP/IP."));
    Command3_Click();
    loadsettings();
    showInterval();
}
