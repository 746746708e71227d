#pragma once

#include "app/frmmain.h"
#include "platform/Inet.h"
#include "platform/Registry.h"
#include "platform/SettingsStore.h"
#include "support/FixedClock.h"
#include "support/RecordingTray.h"
#include "support/ScriptedDialogs.h"
#include "support/ScriptedRandom.h"

#include <QTemporaryDir>
#include <memory>

// A window wired to test services, each test with its own temporary folders.
// Fill the stores before calling window(); the window's load step reads them.
class TestRig
{
public:
    TestRig();
    ~TestRig();

    frmmain &window();
    const QString &home() const { return homeDir_; }
    // The settings store, in its own folder under home().
    QtSettingsStore &settings() { return settings_; }
    // The registry stand-in, in its own folder under home().
    FileRegistry &registry() { return registry_; }

    ScriptedDialogs dialogs;
    RecordingTray tray;
    RecordingShell shell;
    // Fetches are real: tests point the hosts at servers on 127.0.0.1.
    CurlInet inet;
    FixedClock clock;
    ScriptedRandom random;

private:
    QTemporaryDir temp_;
    QString homeDir_;
    QtSettingsStore settings_;
    FileRegistry registry_;
    std::unique_ptr<frmmain> window_;
};
