#pragma once

// The four TCP/IP values as "&Optimize" writes them into the registry store:
// five values, each a write of its own, in Optimize's order.

#include "optimizer/modRegistry.h"

struct TcpSnapshot {
    QString mtu, mss, receiveWindow, ttl;

    // All five writes, each even when one before it failed, as Optimize makes
    // them; the first failure's status, or Done.
    std::int32_t writeTo(Registry &registry) const
    {
        const QString services = QStringLiteral("System\\CurrentControlSet\\Services\\");
        const QString netTrans = services + QStringLiteral("Class\\NetTrans\\0000");
        const QString mstcp = services + QStringLiteral("Vxd\\MSTCP");
        const QString writes[][3] = {
            {netTrans, QStringLiteral("MaxMTU"), mtu},
            {services + QStringLiteral("Class\\Net\\0000"), QStringLiteral("IPMTU"), mtu},
            {netTrans, QStringLiteral("MaxMSS"), mss},
            {mstcp, QStringLiteral("DefaultRcvWindow"), receiveWindow},
            {mstcp, QStringLiteral("DefaultTTL"), ttl}};
        std::int32_t firstFailure = modRegistry::Done;
        for (const auto &[key, name, value] : writes) {
            const std::int32_t status = modRegistry::WriteValue(
                registry, QStringLiteral("HKLM"), key, name, QStringLiteral("S"), value);
            firstFailure = firstFailure == modRegistry::Done ? status : firstFailure;
        }
        return firstFailure;
    }
};

// What Optimize writes for a 56.6 and a 28.8 Kbps modem.
inline TcpSnapshot profile56k()
{
    return {QStringLiteral("576"), QStringLiteral("536"), QStringLiteral("4388"),
            QStringLiteral("128")};
}

inline TcpSnapshot profile28k()
{
    return {QStringLiteral("576"), QStringLiteral("536"), QStringLiteral("2144"),
            QStringLiteral("128")};
}
