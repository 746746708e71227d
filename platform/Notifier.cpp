#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace
{

const QString appId = QStringLiteral("org.example.Quorrel");

// The desktop's own time for notifications (the freedesktop.org notification
// protocol, Notify's expire_timeout).
constexpr qint32 desktopDefaultTimeout = -1;

} // namespace

void Notifier::notify(const QString &summary, const QString &body)
{
    // The bus is reached at the first notification: a Quorrel whose line never
    // dies needs no connection to it.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Quorrel") << quint32(0) << appId << summary << body << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), appId}} << desktopDefaultTimeout;
    // No answer is awaited: where no service runs, the bus's error reply
    // would only say so, and there is nobody to tell.
    static_cast<void>(bus.send(call));
}
