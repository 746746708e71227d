#pragma once

#include <QString>

// The desktop's opener for web addresses.
class Shell
{
public:
    virtual ~Shell() = default;
    // Asks the default browser to open the address; false when no opener took it.
    virtual bool openUrl(const QString &address) = 0;
};

class DesktopShell final : public Shell
{
public:
    bool openUrl(const QString &address) override;
};
