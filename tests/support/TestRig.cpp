#include "support/TestRig.h"

#include <QStandardPaths>

TestRig::TestRig()
    : homeDir_(temp_.path()), settings_(homeDir_ + QStringLiteral("/config")),
      registry_(homeDir_ + QStringLiteral("/data/registry.reg"))
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
            .settings = &settings_,
            .inet = &inet,
            .clock = &clock,
            .random = &random,
            .registry = &registry_,
        });
    return *window_;
}
