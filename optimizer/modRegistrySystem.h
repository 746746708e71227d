#pragma once

// The values of modRegistry that live in the running system: under HKLM,
// "MaxMTU" and "MaxMSS" of the NetTrans key and "DefaultRcvWindow" and
// "DefaultTTL" of the MSTCP key are Quorrel's configuration of the system's
// TCP/IP (platform/tcpip), and "IPMTU" of the Net key is the link's MTU now.

#include "optimizer/modRegistry.h"
#include "platform/tcpip/TcpIp.h"

namespace modRegistry
{

extern const QString netTransKey;
extern const QString netKey;
extern const QString mstcpKey;

// Every value at its place: the TCP/IP values above in the running system, the
// others in the registry store through ReadValue and WriteValue.
class Places
{
    Q_DECLARE_TR_FUNCTIONS(Places)

public:
    Places(Registry &registry, TcpIp &system);

    // A system value that is not set leaves the default and gives
    // ERROR_FILE_NOT_FOUND, as a missing value does. S reads it as text, D as a
    // number; any other letter reads nothing.
    std::int32_t ReadValue(const QString &hive, const QString &keyPath, const QString &valueName,
                           const QString &typeLetter, const Datum &defaultValue, Datum &result);
    // A system value, as text whatever the letter, is kept until commit(); one
    // that is no valid number for its place gives ERROR_INVALID_PARAMETER.
    std::int32_t WriteValue(const QString &hive, const QString &keyPath, const QString &valueName,
                            const QString &typeLetter, const Datum &value);
    // Hands the kept values to the system in one step, so one authorization
    // serves them all, and none is applied when one was refused.
    [[nodiscard]] std::optional<Failure> commit();

private:
    Registry &registry_;
    TcpIp &system_;
    tcpip::Settings kept_;
    std::optional<Failure> refusal_;
};

} // namespace modRegistry
