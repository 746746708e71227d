#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace
{

const QString appId = QStringLiteral("org.example.Quorrel");

// The desktop's own time for notifications (the freedesktop.org notification
// protocol, Notify's expire_timeout).
constexpr qint32 desktopDefaultTimeout = -1;

QDBusMessage callToService(const QString &method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                          QStringLiteral("/org/freedesktop/Notifications"),
                                          QStringLiteral("org.freedesktop.Notifications"), method);
}

// A service that says "body-markup" reads the body as markup (GNOME's and
// KDE's both do): a text of ours is shown as typed, never as markup.
QString asPlainText(QString body)
{
    return body.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"));
}

void send(QDBusConnection &bus, const QString &summary, const QString &body)
{
    QDBusMessage call = callToService(QStringLiteral("Notify"));
    call << QStringLiteral("Quorrel") << quint32(0) << appId << summary << body << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), appId}} << desktopDefaultTimeout;
    // No answer is awaited: where no service runs, the bus's error reply
    // would only say so, and there is nobody to tell.
    static_cast<void>(bus.send(call));
}

} // namespace

void Notifier::notify(const QString &summary, const QString &body)
{
    // The bus is reached at the first notification: a Quorrel whose line never
    // dies needs no connection to it.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // The service may have been replaced since the last notification: it is
    // asked each time, without waiting for it.
    auto *asked = new QDBusPendingCallWatcher(
        bus.asyncCall(callToService(QStringLiteral("GetCapabilities"))));
    QObject::connect(asked, &QDBusPendingCallWatcher::finished, asked,
                     [summary, body](QDBusPendingCallWatcher *answer) {
                         answer->deleteLater();
                         const QDBusPendingReply<QStringList> capabilities = *answer;
                         if (!capabilities.isValid())
                             return; // no service: nobody to tell
                         QDBusConnection bus = QDBusConnection::sessionBus();
                         const bool markup =
                             capabilities.value().contains(QStringLiteral("body-markup"));
                         send(bus, summary, markup ? asPlainText(body) : body);
                     });
}
