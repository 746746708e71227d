#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;

// The notification-area icon. There is at most one icon: adding it again
// changes nothing, removing it when it is not there does nothing. Mouse events
// on the icon arrive as window mouse-message numbers.
class Tray : public QObject
{
    Q_OBJECT

public:
    // Mouse-message numbers delivered by mouseMessage().
    static constexpr int LeftButtonUp = 514;
    static constexpr int LeftDoubleClick = 515;
    static constexpr int RightButtonUp = 517;

    // Whether a tray host is running to show the icon at all.
    virtual bool isAvailable() const = 0;
    virtual void add(const QIcon &icon, const QString &tip) = 0;
    virtual void remove() = 0;
    virtual bool isShown() const = 0;
    // Hosts that draw their own menu (StatusNotifierItem) get the menu to show;
    // others report the right button and leave the popup to the window.
    virtual void offerMenu(QMenu *menu) = 0;

signals:
    void mouseMessage(int message);
};

// QSystemTrayIcon, for XEmbed panels and StatusNotifierItem hosts alike.
class QtTray final : public Tray
{
    Q_OBJECT

public:
    QtTray();
    ~QtTray() override;

    bool isAvailable() const override;
    void add(const QIcon &icon, const QString &tip) override;
    void remove() override;
    bool isShown() const override;
    void offerMenu(QMenu *menu) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void makeIcon();
    void onActivated(int reason);
    void deliverLater(int message);

    // Made by the first add(): a window that never goes to the tray costs
    // neither an icon nor a session-bus connection.
    QSystemTrayIcon *icon_ = nullptr;
    bool statusNotifier_ = false;
    QMenu *menu_ = nullptr;
};
