#pragma once

#include "app/frmmain.h"
#include "support/RecordingTray.h"
#include "support/ScriptedDialogs.h"

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

    ScriptedDialogs dialogs;
    RecordingTray tray;
    RecordingShell shell;

private:
    QTemporaryDir temp_;
    QString homeDir_;
    std::unique_ptr<frmmain> window_;
};
