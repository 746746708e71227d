#pragma once

// The file-mode contract of modRegistry: a hive that names an existing file is an INI file.

#include "optimizer/modRegistry.h"

namespace modRegistry::file
{

// Whether `name` names an existing file, which ResolveRoot then gives as FileMode.
bool isFileName(Registry &registry, const QString &name);

// Text (S): the entry of `section` in `file`, at most 254 characters, or the
// default's text when it is missing. Any other letter: the entry as an integer,
// 0 when it is missing. Always Done.
std::int32_t read(Registry &registry, const QString &file, const QString &section,
                  const QString &entry, const QString &letter, const Datum &defaultValue,
                  Datum &result);

// Writes a text (S) entry; any other letter writes nothing and gives NotDone.
// A failed write is not reported: Done.
std::int32_t write(Registry &registry, const QString &file, const QString &section,
                   const QString &entry, const QString &letter, const Datum &value);

} // namespace modRegistry::file
