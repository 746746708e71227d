#include "optimizer/modRegistrySystem.h"

#include <array>

const QString modRegistry::netTransKey =
    QStringLiteral("System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000");
const QString modRegistry::netKey =
    QStringLiteral("System\\CurrentControlSet\\Services\\Class\\Net\\0000");
const QString modRegistry::mstcpKey =
    QStringLiteral("System\\CurrentControlSet\\Services\\Vxd\\MSTCP");

namespace
{

struct SystemValue {
    const QString &keyPath;
    QLatin1StringView name;
    tcpip::Setting value;
};

const std::array<SystemValue, 5> systemValues{{
    {modRegistry::netTransKey, QLatin1StringView("MaxMTU"), tcpip::Setting::Mtu},
    {modRegistry::netTransKey, QLatin1StringView("MaxMSS"), tcpip::Setting::Mss},
    {modRegistry::mstcpKey, QLatin1StringView("DefaultRcvWindow"), tcpip::Setting::Window},
    {modRegistry::mstcpKey, QLatin1StringView("DefaultTTL"), tcpip::Setting::Ttl},
    {modRegistry::netKey, QLatin1StringView("IPMTU"), tcpip::Setting::LinkMtu},
}};

// Names match without regard to case, as everywhere in the registry.
std::optional<tcpip::Setting> systemValue(const QString &hive, const QString &keyPath,
                                          const QString &valueName)
{
    if (hive.compare(u"HKLM", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    for (const SystemValue &place : systemValues) {
        if (keyPath.compare(place.keyPath, Qt::CaseInsensitive) == 0 &&
            valueName.compare(place.name, Qt::CaseInsensitive) == 0)
            return place.value;
    }
    return std::nullopt;
}

} // namespace

modRegistry::Places::Places(Registry &registry, TcpIp &system)
    : registry_(registry), system_(system)
{
}

std::int32_t modRegistry::Places::ReadValue(const QString &hive, const QString &keyPath,
                                            const QString &valueName, const QString &typeLetter,
                                            const Datum &defaultValue, Datum &result)
{
    const std::optional<tcpip::Setting> place = systemValue(hive, keyPath, valueName);
    if (!place)
        return modRegistry::ReadValue(registry_, hive, keyPath, valueName, typeLetter, defaultValue,
                                      result);
    result = defaultValue;
    const std::optional<long long> number = system_.value(*place);
    if (!number)
        return Registry::ERROR_FILE_NOT_FOUND;
    const QString letter = typeLetter.toUpper();
    if (letter == u"S")
        result = QString::number(*number);
    else if (letter == u"D")
        result = static_cast<std::int32_t>(*number); // every range fits
    return Done;
}

std::int32_t modRegistry::Places::WriteValue(const QString &hive, const QString &keyPath,
                                             const QString &valueName, const QString &typeLetter,
                                             const Datum &value)
{
    const std::optional<tcpip::Setting> place = systemValue(hive, keyPath, valueName);
    if (!place)
        return modRegistry::WriteValue(registry_, hive, keyPath, valueName, typeLetter, value);
    const QString text = toText(value);
    const std::optional<long long> number = tcpip::checked(*place, text);
    if (!number) {
        if (!refusal_)
            refusal_ = Failure{tr("\"%1\" is no valid value for %2").arg(text, valueName)};
        return Registry::ERROR_INVALID_PARAMETER;
    }
    kept_[*place] = *number;
    return Done;
}

std::optional<Failure> modRegistry::Places::commit()
{
    const tcpip::Settings kept = std::exchange(kept_, {});
    if (refusal_)
        return std::exchange(refusal_, std::nullopt);
    return kept.empty() ? std::nullopt : system_.change(kept);
}
