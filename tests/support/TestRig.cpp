#include "support/TestRig.h"

#include <QStandardPaths>

TestRig::TestRig() : homeDir_(temp_.path())
{
    QStandardPaths::setTestModeEnabled(true);
}

TestRig::~TestRig() = default;

frmmain &TestRig::window()
{
    if (!window_)
        window_ = std::make_unique<frmmain>(Services{
            .dialogs = &dialogs,
            .tray = &tray,
            .shell = &shell,
        });
    return *window_;
}
