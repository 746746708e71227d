#pragma once

#include <QString>

// Desktop notifications, through the freedesktop.org notification service on
// the session bus, as Quorrel with its icon.
class Notifier
{
public:
    // Shown by the desktop's notification service, the body as plain text
    // even where the service reads markup; nothing at all when no session bus
    // or no such service runs. Returns at once: the service's answers come
    // through the event loop.
    void notify(const QString &summary, const QString &body);
};
