#pragma once

#include "app/frmmain.h"
#include "platform/Clock.h"
#include "platform/Random.h"
#include "platform/Shell.h"
#include "platform/Tray.h"
#include "platform/net/Inet.h"
#include "platform/store/Registry.h"
#include "platform/store/SettingsStore.h"
#include "platform/tcpip/TcpIp.h"
#include "support/TestRig.h"

#include <QTemporaryDir>
#include <memory>

// Lets the window handle what a change has set off: layout, then paint.
void settle();

// The settings store in a folder that can be changed for a fresh one: a load
// from a copy of the file just saved reads the disk, as a start-up does, and
// not QSettings' in-process copy of the file.
class ReopenableSettingsStore final : public SettingsStore
{
public:
    explicit ReopenableSettingsStore(const QString &configDirectory);
    void reopenAt(const QString &configDirectory);
    QString fileName() const;

    std::optional<QString> read(const QString &application, const QString &section,
                                const QString &key) const override;
    void write(const QString &application, const QString &section, const QString &key,
               const QString &text) override;
    void deleteSection(const QString &application, const QString &section) override;
    std::optional<SaveError> commit() override;

private:
    std::unique_ptr<QtSettingsStore> store_;
};

// Quorrel's window wired as the program wires it, with the real transfer,
// clock, random numbers and tray, but with its stores in a temporary folder
// and scripted answers for the input boxes.
class BenchRig
{
public:
    BenchRig();
    ~BenchRig();

    frmmain &window() { return *window_; }
    ReopenableSettingsStore &settings() { return settings_; }
    // A new, empty folder under the rig's own.
    QString freshFolder();
    // Replaces the host list.
    void setHosts(const QStringList &hosts);

    ScriptedDialogs dialogs;

private:
    QTemporaryDir temp_;
    int folders_ = 0;
    QtTray tray_;
    DesktopShell shell_;
    CurlInet inet_;
    SystemClock clock_;
    ClockSeededRandom random_;
    ReopenableSettingsStore settings_;
    FileRegistry registry_;
    SystemTcpIp tcpip_{SystemTcpIp::installedHelper()};
    std::unique_ptr<frmmain> window_;
};
