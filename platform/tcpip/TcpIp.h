#pragma once

#include "platform/Failure.h"
#include "platform/tcpip/SystemValues.h"

#include <QCoreApplication>
#include <QStringList>
#include <optional>

// The running system's TCP/IP values as the window sees them.
class TcpIp
{
public:
    virtual ~TcpIp() = default;

    // The value Quorrel has configured (LinkMtu: the link's MTU now), or nothing
    // when it is not set.
    virtual std::optional<long long> value(tcpip::Setting which) = 0;
    // Configures and applies all of the values at once, or none of them.
    [[nodiscard]] virtual std::optional<Failure> change(const tcpip::Settings &values) = 0;
};

// Reads the configuration and the link without any privilege; changes them
// through the helper quorrel-tcpip, started with pkexec unless this process
// may already change the network (CAP_NET_ADMIN).
class SystemTcpIp final : public TcpIp
{
    Q_DECLARE_TR_FUNCTIONS(SystemTcpIp)

public:
    explicit SystemTcpIp(QString helper);
    // The helper beside the running program when it was built there, otherwise
    // the installed one.
    static QString installedHelper();

    std::optional<long long> value(tcpip::Setting which) override;
    [[nodiscard]] std::optional<Failure> change(const tcpip::Settings &values) override;

private:
    static std::optional<Failure> describe(tcpip::HelperStatus status);

    QString helper_;
};
