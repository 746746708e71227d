#pragma once

#include "platform/registry/Registry.h"

#include <QString>
#include <cstdint>
#include <variant>

// Single named values of the registry, or of an initialisation file when the
// hive name is the name of an existing file (section = key path, entry = value
// name; see modRegistryFile.h). Every call resolves the hive, opens or creates the key, reads or
// writes one value and closes the key again; nothing is kept between calls.
namespace modRegistry
{

// A text, a boolean or a 32-bit integer: a read's default and result, a write's value.
using Datum = std::variant<QString, bool, std::int32_t>;

// Statuses of ReadValue and WriteValue besides the system's error codes.
constexpr std::int32_t Done = 0;
constexpr std::int32_t NotDone = 99; // nothing was attempted

// What ResolveRoot gives for a name that is no hive name but an existing file.
constexpr std::uint32_t FileMode = 1;

// The root key for the hive names HKCU, HKLM, HKU, HKDD, HKCC and HKCR (in any
// case), FileMode for the name of an existing file, otherwise 0.
std::uint32_t ResolveRoot(Registry &registry, const QString &name);

// `result` receives the value read, or `defaultValue` when nothing was read.
// `typeLetter` is S (text), B (boolean, 2 bytes) or D (32-bit integer).
std::int32_t ReadValue(Registry &registry, const QString &hive, const QString &keyPath,
                       const QString &valueName, const QString &typeLetter,
                       const Datum &defaultValue, Datum &result);

// Writes S as text, B as 2 bytes (FF FF or 00 00) and D as a 16-bit integer
// widened to 32 bits. A value that does not convert writes nothing and gives
// ERROR_INVALID_PARAMETER.
std::int32_t WriteValue(Registry &registry, const QString &hive, const QString &keyPath,
                        const QString &valueName, const QString &typeLetter, const Datum &value);

// The value as text: booleans as "True" or "False", numbers in decimal.
QString toText(const Datum &value);

} // namespace modRegistry
