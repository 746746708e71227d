// Saving and loading the user's choices.

#include "app/frmmain.h"

#include <QListWidget>

std::optional<QString> frmmain::save()
{
    return std::nullopt;
}

void frmmain::savesettings() {}

void frmmain::warnSaveFailed(const QString &) {}

void frmmain::loadsettings()
{
    if (List1->count() == 0)
        appendDefaultHosts();
}

void frmmain::Command10_Click()
{
    savesettings();
}

void frmmain::Command8_Click()
{
    savesettings();
}
