#include "optimizer/modRegistry.h"
#include "optimizer/modRegistryFile.h"

#include <QtEndian>
#include <array>
#include <cmath>
#include <optional>

using modRegistry::Datum;
using Status = Registry::Status;

namespace
{

template <typename... Visitors> struct Overloaded : Visitors... {
    using Visitors::operator()...;
};

struct Hive {
    QLatin1StringView name;
    Registry::Hkey root;
};

// Compared in this order.
constexpr std::array<Hive, 6> hives{{
    {QLatin1StringView("HKCU"), Registry::HKEY_CURRENT_USER},
    {QLatin1StringView("HKLM"), Registry::HKEY_LOCAL_MACHINE},
    {QLatin1StringView("HKU"), Registry::HKEY_USERS},
    {QLatin1StringView("HKDD"), Registry::HKEY_DYN_DATA},
    {QLatin1StringView("HKCC"), Registry::HKEY_CURRENT_CONFIG},
    {QLatin1StringView("HKCR"), Registry::HKEY_CLASSES_ROOT},
}};

std::optional<double> number(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok); // blanks around the number are allowed
    return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

std::optional<bool> toBoolean(const Datum &value)
{
    return std::visit(Overloaded{
                          [](bool flag) -> std::optional<bool> { return flag; },
                          [](std::int32_t integer) -> std::optional<bool> { return integer != 0; },
                          [](const QString &text) -> std::optional<bool> {
                              const QString word = text.trimmed();
                              if (word.compare(u"true", Qt::CaseInsensitive) == 0)
                                  return true;
                              if (word.compare(u"false", Qt::CaseInsensitive) == 0)
                                  return false;
                              const std::optional<double> read = number(text);
                              return read ? std::optional(*read != 0) : std::nullopt;
                          },
                      },
                      value);
}

// True counts as -1, as in every place where a boolean becomes a number here.
std::optional<std::int16_t> toInteger16(const Datum &value)
{
    const std::optional<double> read =
        std::visit(Overloaded{
                       [](bool flag) -> std::optional<double> { return flag ? -1.0 : 0.0; },
                       [](std::int32_t integer) -> std::optional<double> { return integer; },
                       [](const QString &text) { return number(text); },
                   },
                   value);
    if (!read)
        return std::nullopt;
    // The default rounding mode takes the nearest integer, the even one of two
    // (nearbyint(3), FE_TONEAREST in fenv(3)).
    const double rounded = std::nearbyint(*read);
    if (rounded < -32768 || rounded > 32767)
        return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

Status queryText(Registry &registry, const RegistryKey &key, const QString &name, Datum &result)
{
    std::uint32_t type = Registry::REG_SZ;
    std::uint32_t size = 0;
    QByteArray buffer;
    Status status = registry.RegQueryValueExA(key, name, type, {}, size);
    if (status == Registry::ERROR_MORE_DATA) {
        buffer.resize(size);
        status = registry.RegQueryValueExA(
            key, name, type, std::span(buffer.data(), static_cast<std::size_t>(buffer.size())),
            size);
    }
    // Whatever its type, the value's bytes are taken as text less the final NUL;
    // a value without any bytes leaves the default.
    if (status == Registry::ERROR_SUCCESS && size > 0)
        result = QString::fromLocal8Bit(buffer.left(size - 1));
    return status;
}

template <std::size_t Size>
Status queryFixed(Registry &registry, const RegistryKey &key, const QString &name,
                  std::uint32_t type, std::array<char, Size> &buffer)
{
    std::uint32_t size = Size;
    return registry.RegQueryValueExA(key, name, type, buffer, size);
}

Status queryBoolean(Registry &registry, const RegistryKey &key, const QString &name, Datum &result)
{
    std::array<char, 2> buffer{};
    const Status status = queryFixed(registry, key, name, Registry::REG_BINARY, buffer);
    if (status == Registry::ERROR_SUCCESS)
        result = qFromLittleEndian<std::int16_t>(buffer.data()) != 0;
    return status;
}

Status queryInteger(Registry &registry, const RegistryKey &key, const QString &name, Datum &result)
{
    std::array<char, 4> buffer{};
    const Status status = queryFixed(registry, key, name, Registry::REG_DWORD, buffer);
    if (status == Registry::ERROR_SUCCESS)
        result = qFromLittleEndian<std::int32_t>(buffer.data());
    return status;
}

Status query(Registry &registry, const RegistryKey &key, const QString &name, const QString &letter,
             Datum &result)
{
    if (letter == u"S")
        return queryText(registry, key, name, result);
    if (letter == u"B")
        return queryBoolean(registry, key, name, result);
    if (letter == u"D")
        return queryInteger(registry, key, name, result);
    return Registry::ERROR_SUCCESS; // any other letter reads nothing
}

Status setValue(Registry &registry, const RegistryKey &key, const QString &name,
                const QString &letter, const Datum &value)
{
    if (letter == u"S") {
        // The text in the locale's encoding, with its terminating NUL.
        const QByteArray text = modRegistry::toText(value).toLocal8Bit() + '\0';
        return registry.RegSetValueExA(key, name, Registry::REG_SZ, text);
    }
    if (letter == u"B") {
        const std::optional<bool> flag = toBoolean(value);
        if (!flag)
            return Registry::ERROR_INVALID_PARAMETER;
        return registry.RegSetValueExA(key, name, Registry::REG_BINARY,
                                       QByteArray(2, *flag ? '\xff' : '\0'));
    }
    if (letter == u"D") {
        const std::optional<std::int16_t> integer = toInteger16(value);
        if (!integer)
            return Registry::ERROR_INVALID_PARAMETER;
        QByteArray bytes(4, '\0');
        qToLittleEndian<std::int32_t>(*integer, bytes.data()); // widened with its sign
        return registry.RegSetValueExA(key, name, Registry::REG_DWORD, bytes);
    }
    return Registry::ERROR_SUCCESS; // any other letter writes nothing
}

} // namespace

QString modRegistry::toText(const Datum &value)
{
    return std::visit(
        Overloaded{
            [](const QString &text) { return text; },
            [](bool flag) { return flag ? QStringLiteral("True") : QStringLiteral("False"); },
            [](std::int32_t integer) { return QString::number(integer); },
        },
        value);
}

std::uint32_t modRegistry::ResolveRoot(Registry &registry, const QString &name)
{
    const QString upper = name.toUpper();
    for (const Hive &hive : hives) {
        if (upper == hive.name)
            return hive.root;
    }
    return file::isFileName(registry, name) ? FileMode : 0;
}

std::int32_t modRegistry::ReadValue(Registry &registry, const QString &hive, const QString &keyPath,
                                    const QString &valueName, const QString &typeLetter,
                                    const Datum &defaultValue, Datum &result)
{
    result = defaultValue;
    const std::uint32_t root = ResolveRoot(registry, hive);
    const QString letter = typeLetter.toUpper();
    if (root == 0)
        return NotDone;
    if (root == FileMode)
        return file::read(registry, hive, keyPath, valueName, letter, defaultValue, result);

    RegistryKey key;
    const Status opened = registry.RegOpenKeyExA(root, keyPath, 0, Registry::KEY_QUERY_VALUE, key);
    if (opened != Registry::ERROR_SUCCESS)
        return opened;
    const Status queried = query(registry, key, valueName, letter, result);
    const Status closed = registry.RegCloseKey(key);
    return queried != Registry::ERROR_SUCCESS ? queried : closed;
}

std::int32_t modRegistry::WriteValue(Registry &registry, const QString &hive,
                                     const QString &keyPath, const QString &valueName,
                                     const QString &typeLetter, const Datum &value)
{
    const std::uint32_t root = ResolveRoot(registry, hive);
    const QString letter = typeLetter.toUpper();
    if (root == 0)
        return NotDone;
    if (root == FileMode)
        return file::write(registry, hive, keyPath, valueName, letter, value);

    RegistryKey key;
    std::uint32_t disposition = 0; // whether the key was new does not matter here
    const Status created = registry.RegCreateKeyExA(
        root, keyPath, Registry::REG_OPTION_NON_VOLATILE,
        Registry::KEY_SET_VALUE | Registry::KEY_CREATE_SUB_KEY, key, disposition);
    if (created != Registry::ERROR_SUCCESS)
        return created;
    const Status written = setValue(registry, key, valueName, letter, value);
    const Status closed = registry.RegCloseKey(key);
    return written != Registry::ERROR_SUCCESS ? written : closed;
}
