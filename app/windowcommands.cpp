// Window-level commands: hiding to the tray and coming back, the tray menu,
// closing with the offer to save, the home page and the proxy switch.

#include "app/frmmain.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "platform/Tray.h"

#include <QCheckBox>
#include <QCursor>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

namespace
{

const QString homePage = QStringLiteral("https://quorrel.example.org/");

// The tray tip holds at most 64 characters of the caption.
constexpr int tipLength = 64;

} // namespace

void frmmain::totray()
{
    // Without a tray host nobody would show the icon, and the window could
    // never come back: it is minimized instead.
    if (!services_.tray->isAvailable()) {
        showMinimized();
        return;
    }
    services_.tray->add(windowIcon(), windowTitle().left(tipLength));
    // A hidden window has no entry in the task bar or the window switcher.
    hide();
}

void frmmain::Command9_Click()
{
    totray();
}

void frmmain::Form_Launch(bool start, bool toTray)
{
    toTray ? totray() : show();
    if (start)
        startOnceShown();
}

void frmmain::Form_LaunchedAgain(bool start, bool history)
{
    if (history)
        showHistory();
    else
        open_Click();
    if (start && Command1->isEnabled())
        startOnceShown();
}

// The attempt waits in an event loop of its own: the window is shown, and
// the launch that asked has its answer, first.
void frmmain::startOnceShown()
{
    QTimer::singleShot(0, this, &frmmain::Command1_Click);
}

void frmmain::Tray_MouseMessage(int message)
{
    if (trayBusy_)
        return;
    trayBusy_ = true;
    if (message == Tray::LeftDoubleClick)
        showFromTray();
    else if (message == Tray::RightButtonUp)
        popUpTrayMenu();
    trayBusy_ = false;
}

void frmmain::showFromTray()
{
    showNormal();
    raise();
    activateWindow();
}

void frmmain::popUpTrayMenu()
{
    // The menu closes when the user clicks elsewhere only if its window is
    // in the foreground.
    activateWindow();
    mnusystemtray->exec(QCursor::pos());
}

void frmmain::open_Click()
{
    showFromTray();
    services_.tray->remove();
}

void frmmain::close_Click()
{
    Command2_Click();
}

void frmmain::Command2_Click()
{
    const int answer =
        services_.dialogs->MsgBox(tr("Would you like to save any changes before closing ?"),
                                  Dialogs::YesNo + Dialogs::Question, tr("Quorrel Settings"));
    if (QString::number(answer) == QLatin1String("6")) {
        // A failed save must not throw the user's changes away: stay open.
        if (const std::optional<Failure> failure = save()) {
            warnSaveFailed(*failure);
            return;
        }
    }
    unload();
}

void frmmain::Form_QueryUnload(int &, int)
{
    services_.tray->remove();
}

void frmmain::unload()
{
    QWidget::close();
}

void frmmain::Command4_Click()
{
    // The browser reports nothing back, and a desktop without an opener has
    // nothing to tell the user beyond what it shows itself.
    static_cast<void>(services_.shell->openUrl(homePage));
}

void frmmain::Check1_Click()
{
    if (Check1->isChecked()) {
        Text1->setEnabled(true);
        QPalette colours = Text1->palette();
        colours.setColor(QPalette::Base, Qt::white);
        // Dark themes draw light text, which a white box would swallow.
        colours.setColor(QPalette::Text, Qt::black);
        Text1->setPalette(colours);
    } else {
        Text1->setEnabled(false);
        Text1->setText(QString());
    }
}
