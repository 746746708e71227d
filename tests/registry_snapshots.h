#pragma once

// Whole sets of the four TCP/IP values as "&Optimize" writes them into the
// registry store: five values, each a write of its own, in Optimize's order.

#include "optimizer/modRegistry.h"

#include <QList>

struct TcpSnapshot {
    QString mtu, mss, receiveWindow, ttl;

    struct Write {
        QString keyPath, name, value;
    };

    QList<Write> writes() const
    {
        const QString services = QStringLiteral("System\\CurrentControlSet\\Services\\");
        const QString netTrans = services + QStringLiteral("Class\\NetTrans\\0000");
        const QString mstcp = services + QStringLiteral("Vxd\\MSTCP");
        return {{netTrans, QStringLiteral("MaxMTU"), mtu},
                {services + QStringLiteral("Class\\Net\\0000"), QStringLiteral("IPMTU"), mtu},
                {netTrans, QStringLiteral("MaxMSS"), mss},
                {mstcp, QStringLiteral("DefaultRcvWindow"), receiveWindow},
                {mstcp, QStringLiteral("DefaultTTL"), ttl}};
    }

    static std::int32_t write(Registry &registry, const Write &write)
    {
        return modRegistry::WriteValue(registry, QStringLiteral("HKLM"), write.keyPath, write.name,
                                       QStringLiteral("S"), write.value);
    }

    // All five writes, each even when one before it failed, as Optimize makes
    // them; the first failure's status, or Done.
    std::int32_t writeTo(Registry &registry) const
    {
        std::int32_t firstFailure = modRegistry::Done;
        for (const Write &each : writes()) {
            const std::int32_t status = write(registry, each);
            firstFailure = firstFailure == modRegistry::Done ? status : firstFailure;
        }
        return firstFailure;
    }
};

// What Optimize writes for a 56.6 and a 28.8 Kbps modem, and values set by
// hand that differ from the 56.6 Kbps ones in every place.
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

inline TcpSnapshot handTuned()
{
    return {QStringLiteral("1500"), QStringLiteral("1460"), QStringLiteral("65535"),
            QStringLiteral("64")};
}

// The registry writes of a writer that alternates between two sets, value by
// value: the five of the 56.6 Kbps set, then the five hand-tuned ones, and so on.
inline TcpSnapshot::Write alternatingWrite(qsizetype index)
{
    const QList<TcpSnapshot::Write> sets[] = {profile56k().writes(), handTuned().writes()};
    return sets[index / 5 % 2][index % 5];
}
