#include "optimizer/modRegistryFile.h"

namespace
{

constexpr int profileBufferSize = 255;

} // namespace

bool modRegistry::file::isFileName(Registry &registry, const QString &name)
{
    return !registry.findFile(name).isEmpty();
}

std::int32_t modRegistry::file::read(Registry &registry, const QString &file,
                                     const QString &section, const QString &entry,
                                     const QString &letter, const Datum &defaultValue,
                                     Datum &result)
{
    if (letter == u"S") {
        QString text;
        const int copied = registry.GetPrivateProfileStringA(section, entry, toText(defaultValue),
                                                             text, profileBufferSize, file);
        result = text.left(copied);
    } else {
        result = registry.GetPrivateProfileIntA(section, entry, 0, file);
    }
    return Done;
}

std::int32_t modRegistry::file::write(Registry &registry, const QString &file,
                                      const QString &section, const QString &entry,
                                      const QString &letter, const Datum &value)
{
    if (letter != u"S")
        return NotDone;
    // File mode reports no failure of the write, by its contract.
    static_cast<void>(registry.WritePrivateProfileStringA(section, entry, toText(value), file));
    return Done;
}
