#pragma once

#include <QString>

// Desktop notifications, through the freedesktop.org notification service on
// the session bus, as Quorrel with its icon.
class Notifier
{
public:
    // Shown by the desktop's notification service; nothing at all when no
    // session bus or no such service runs.
    void notify(const QString &summary, const QString &body);
};
