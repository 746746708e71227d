#include "support/RecordingTray.h"

void RecordingTray::add(const QIcon &newIcon, const QString &newTip)
{
    if (shown)
        return;
    shown = true;
    ++adds;
    icon = newIcon;
    tip = newTip;
}

void RecordingTray::remove()
{
    shown = false;
}

bool RecordingShell::openUrl(const QString &address)
{
    opened.append(address);
    return succeeds;
}
