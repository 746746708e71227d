#include "platform/Tray.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>

namespace
{

// StatusNotifierItem hosts (KDE, GNOME with the AppIndicator extension, most
// Wayland desktops) register this watcher on the session bus; Qt then uses them
// instead of an XEmbed panel (it asks for the same service name in its
// qdbusmenuconnection.cpp).
bool statusNotifierHostRunning()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()
        ->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"))
        .value();
}

} // namespace

QtTray::QtTray() = default;

QtTray::~QtTray() = default;

// Qt picks the kind of host when the icon is made, so the answer is taken then.
void QtTray::makeIcon()
{
    icon_ = new QSystemTrayIcon(this);
    statusNotifier_ = statusNotifierHostRunning();
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onActivated(reason); });
}

bool QtTray::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTray::add(const QIcon &icon, const QString &tip)
{
    if (!icon_)
        makeIcon();
    if (icon_->isVisible())
        return;
    icon_->setIcon(icon);
    icon_->setToolTip(tip);
    // Such hosts show the item's menu themselves and never report a right click.
    icon_->setContextMenu(statusNotifier_ ? menu_ : nullptr);
    icon_->show();
}

void QtTray::remove()
{
    if (icon_)
        icon_->hide();
}

bool QtTray::isShown() const
{
    return icon_ && icon_->isVisible();
}

void QtTray::offerMenu(QMenu *menu)
{
    menu_ = menu;
}

void QtTray::onActivated(int reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        deliverLater(LeftDoubleClick);
        break;
    case QSystemTrayIcon::Trigger:
        // StatusNotifierItem hosts never report a double-click (the item's
        // D-Bus methods are Activate, SecondaryActivate, ContextMenu and Scroll,
        // as freedesktop.org's StatusNotifierItem page lists them): their
        // primary activation is the user's way to bring the window back.
        deliverLater(statusNotifier_ ? LeftDoubleClick : LeftButtonUp);
        break;
    case QSystemTrayIcon::Context:
        // An XEmbed icon reports the right button as it goes down (the
        // mousePressEvent of Qt's qsystemtrayicon_x11.cpp); the menu
        // belongs to its release, which comes to the icon's window next.
        if (statusNotifier_)
            deliverLater(RightButtonUp);
        else
            QCoreApplication::instance()->installEventFilter(this);
        break;
    default:
        break; // a middle click means nothing here
    }
}

bool QtTray::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::RightButton) {
        QCoreApplication::instance()->removeEventFilter(this);
        deliverLater(RightButtonUp);
    }
    return QObject::eventFilter(watched, event);
}

// Queued: the window may remove the icon while handling the message (the
// menu's "Open Quorrel"), which must not happen inside the icon's own mouse
// event.
void QtTray::deliverLater(int message)
{
    QMetaObject::invokeMethod(
        this, [this, message] { emit mouseMessage(message); }, Qt::QueuedConnection);
}
