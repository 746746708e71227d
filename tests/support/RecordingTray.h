#pragma once

#include "platform/Shell.h"
#include "platform/Tray.h"

#include <QStringList>

// A tray that remembers what the window asked of it; tests raise its mouse
// messages with click().
class RecordingTray final : public Tray
{
    Q_OBJECT

public:
    bool isAvailable() const override { return available; }
    void add(const QIcon &icon, const QString &tip) override;
    void remove() override;
    bool isShown() const override { return shown; }
    void offerMenu(QMenu *menu) override { offeredMenu = menu; }

    void click(int message) { emit mouseMessage(message); }

    bool available = true;
    bool shown = false;
    int adds = 0; // adds that put an icon up
    QString tip;
    QIcon icon;
    QMenu *offeredMenu = nullptr;
};

class RecordingShell final : public Shell
{
public:
    bool openUrl(const QString &address) override;

    QStringList opened;
    bool succeeds = true;
};
