#include "platform/registry/Registry.h"
#include "platform/registry/IniFile.h"
#include "platform/registry/RegistryDocument.h"
#include "platform/store/StoreFile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <optional>
#include <utility>

namespace
{

// Quorrel writes five short values, a few hundred bytes, and every read of a
// value parses the whole file again. A file far larger than that, the store
// or an initialisation file, is none that Quorrel wrote: it is not read at all.
constexpr qint64 maxFileBytes = 1024 * 1024;

// A write holds the lock for milliseconds. One that waits longer finds a
// Quorrel that is stuck or slow, and says so rather than keep the window frozen.
constexpr int lockWaitMs = 1000;

// A file's contents: empty when there is no file, nothing when it cannot be read.
std::optional<QByteArray> readWhole(const QString &fileName)
{
    StoreFile file = StoreFile::read(fileName, maxFileBytes);
    switch (file.found) {
    case StoreFile::Found::Missing:
        return QByteArray();
    case StoreFile::Found::Read:
        return std::move(file.contents);
    case StoreFile::Found::TooLarge:
    case StoreFile::Found::Unreadable:
        break;
    }
    return std::nullopt;
}

enum class Replaced { Yes, Kept, Busy, Failed };

// One read-modify-write of a file. Under the file's lock the current contents
// are read and handed to `change`; what it returns replaces the file in one step.
// So two processes take turns, neither loses the other's change, and a reader
// never sees half a file. `change` returns nothing to keep the file as it is.
template <typename Change> Replaced replaceLocked(const QString &fileName, Change change)
{
    if (!StoreFile::makeFolder(QFileInfo(fileName).absolutePath()))
        return Replaced::Failed;
    const StoreLock lock(fileName, lockWaitMs);
    if (lock.state() == StoreLock::State::Busy)
        return Replaced::Busy;
    if (lock.state() != StoreLock::State::Locked)
        return Replaced::Failed;
    const std::optional<QByteArray> current = readWhole(fileName);
    if (!current)
        return Replaced::Failed;
    const std::optional<QByteArray> replacement = change(*current);
    if (!replacement)
        return Replaced::Kept;
    return StoreFile::replace(fileName, *replacement) ? Replaced::Yes : Replaced::Failed;
}

// The store as it is now; one that cannot be read or understood reads as empty.
RegistryDocument currentDocument(const QString &fileName)
{
    const std::optional<QByteArray> contents = readWhole(fileName);
    std::optional<RegistryDocument> document;
    if (contents)
        document = RegistryDocument::parse(*contents);
    return document.value_or(RegistryDocument());
}

std::optional<QString> profileEntry(const QString &fileName, const QString &section,
                                    const QString &entry)
{
    const std::optional<QByteArray> contents = readWhole(fileName);
    return contents ? IniFile::entry(*contents, section, entry) : std::nullopt;
}

// The whole number at the start of a text, 0 when it starts with none.
std::int32_t leadingNumber(const QString &text)
{
    qsizetype end = text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')) ? 1 : 0;
    while (end < text.size() && text[end] >= QLatin1Char('0') && text[end] <= QLatin1Char('9'))
        ++end;
    bool ok = false;
    const qint64 number = text.left(end).toLongLong(&ok);
    // Beyond 32 bits the number wraps, as a 32-bit register would hold it.
    return ok ? static_cast<std::int32_t>(number) : 0;
}

} // namespace

RegistryKey::RegistryKey(RegistryKey &&other) noexcept
    : path_(std::exchange(other.path_, QString())), access_(std::exchange(other.access_, 0u))
{
}

RegistryKey &RegistryKey::operator=(RegistryKey &&other) noexcept
{
    path_ = std::exchange(other.path_, QString());
    access_ = std::exchange(other.access_, 0u);
    return *this;
}

QString Registry::describe(Status status)
{
    switch (status) {
    case ERROR_PATH_NOT_FOUND:
        return tr("there is no folder for the registry store: HOME is not set to your home "
                  "folder, or the folder's name is not valid UTF-8");
    case ERROR_ACCESS_DENIED:
        return tr("access was denied; the registry store may be read-only");
    case ERROR_BADDB:
        return tr("the registry store file is damaged");
    case ERROR_REGISTRY_IO_FAILED:
        return tr("the registry store file could not be read or saved");
    case ERROR_BUSY:
        return tr("another Quorrel is writing the registry store. Try again in a moment");
    default:
        return tr("system error %1").arg(status);
    }
}

FileRegistry::FileRegistry(QString fileName) : fileName_(std::move(fileName)) {}

FileRegistry::FileRegistry(const StorePlace &file)
    : fileName_(file.path), refused_(!file.refusal.isEmpty())
{
}

StorePlace FileRegistry::defaultFileName()
{
    StorePlace place = StoreFile::userFolder("XDG_DATA_HOME", QLatin1StringView(".local/share"));
    if (place.refusal.isEmpty())
        place.path += QLatin1String("/quorrel/registry.reg");
    return place;
}

Registry::Status FileRegistry::keyPath(Hkey root, const QString &subKey, QString &path) const
{
    const QString rootName = RegistryDocument::rootKeyName(root);
    if (rootName.isEmpty())
        return ERROR_INVALID_HANDLE;
    if (!RegistryDocument::isStorableName(subKey))
        return ERROR_INVALID_PARAMETER;
    QStringList parts = subKey.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    parts.prepend(rootName);
    path = parts.join(QLatin1Char('\\'));
    return ERROR_SUCCESS;
}

bool FileRegistry::isFrozen() const
{
    // Judged by the permission bits rather than by whether this process may
    // write: root may write any file, yet a store that was made read-only is
    // meant to stay as it is.
    const QFileInfo info(fileName_);
    const auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return info.exists() && !(info.permissions() & anyWrite);
}

template <typename Change> Registry::Status FileRegistry::modify(Change change)
{
    if (refused_)
        return ERROR_PATH_NOT_FOUND;
    if (isFrozen())
        return ERROR_ACCESS_DENIED;
    bool damaged = false;
    const Replaced replaced =
        replaceLocked(fileName_, [&](const QByteArray &contents) -> std::optional<QByteArray> {
            std::optional<RegistryDocument> document = RegistryDocument::parse(contents);
            // A store that could not be understood is never replaced by less than it held.
            damaged = !document;
            if (damaged || !change(*document))
                return std::nullopt;
            return document->serialize();
        });
    if (damaged)
        return ERROR_BADDB;
    switch (replaced) {
    case Replaced::Yes:
    case Replaced::Kept:
        break;
    case Replaced::Busy:
        return ERROR_BUSY;
    case Replaced::Failed:
        return ERROR_REGISTRY_IO_FAILED;
    }
    return ERROR_SUCCESS;
}

Registry::Status FileRegistry::RegOpenKeyExA(Hkey root, const QString &subKey,
                                             std::uint32_t options, std::uint32_t access,
                                             RegistryKey &result)
{
    result = RegistryKey();
    if (options != 0)
        return ERROR_INVALID_PARAMETER;
    QString path;
    if (const Status status = keyPath(root, subKey, path); status != ERROR_SUCCESS)
        return status;
    if (!currentDocument(fileName_).hasKey(path))
        return ERROR_FILE_NOT_FOUND;
    result = RegistryKey(path, access);
    return ERROR_SUCCESS;
}

Registry::Status FileRegistry::RegQueryValueExA(const RegistryKey &key, const QString &valueName,
                                                std::uint32_t &type, std::span<char> data,
                                                std::uint32_t &size)
{
    if (!key.isOpen())
        return ERROR_INVALID_HANDLE;
    if (!(key.access_ & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    const RegistryDocument document = currentDocument(fileName_);
    const RegistryDocument::StoredValue *value = document.value(key.path_, valueName);
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    type = value->type;
    size = static_cast<std::uint32_t>(value->data.size());
    if (static_cast<std::size_t>(value->data.size()) > data.size())
        return ERROR_MORE_DATA;
    std::copy(value->data.begin(), value->data.end(), data.begin());
    return ERROR_SUCCESS;
}

Registry::Status FileRegistry::RegCreateKeyExA(Hkey root, const QString &subKey,
                                               std::uint32_t options, std::uint32_t access,
                                               RegistryKey &result, std::uint32_t &disposition)
{
    result = RegistryKey();
    if (options != REG_OPTION_NON_VOLATILE)
        return ERROR_INVALID_PARAMETER;
    QString path;
    if (const Status status = keyPath(root, subKey, path); status != ERROR_SUCCESS)
        return status;
    bool created = false;
    const Status status = modify([&](RegistryDocument &document) {
        created = document.createKey(path);
        return created;
    });
    if (status != ERROR_SUCCESS)
        return status;
    disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    result = RegistryKey(path, access);
    return ERROR_SUCCESS;
}

Registry::Status FileRegistry::RegSetValueExA(const RegistryKey &key, const QString &valueName,
                                              std::uint32_t type, QByteArrayView data)
{
    if (!key.isOpen())
        return ERROR_INVALID_HANDLE;
    if (!(key.access_ & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (!RegistryDocument::isStorableName(valueName))
        return ERROR_INVALID_PARAMETER;
    return modify([&](RegistryDocument &document) {
        document.setValue(key.path_, {valueName, type, data.toByteArray()});
        return true;
    });
}

Registry::Status FileRegistry::RegCloseKey(RegistryKey &key)
{
    if (!key.isOpen())
        return ERROR_INVALID_HANDLE;
    key = RegistryKey();
    return ERROR_SUCCESS;
}

int FileRegistry::GetPrivateProfileStringA(const QString &section, const QString &entry,
                                           const QString &defaultText, QString &returned, int size,
                                           const QString &fileName)
{
    // The buffer keeps its last place for the terminating NUL.
    returned =
        profileEntry(fileName, section, entry).value_or(defaultText).left(std::max(size - 1, 0));
    return static_cast<int>(returned.size());
}

std::int32_t FileRegistry::GetPrivateProfileIntA(const QString &section, const QString &entry,
                                                 std::int32_t defaultValue, const QString &fileName)
{
    const std::optional<QString> text = profileEntry(fileName, section, entry);
    return text ? leadingNumber(*text) : defaultValue;
}

bool FileRegistry::WritePrivateProfileStringA(const QString &section, const QString &entry,
                                              const QString &text, const QString &fileName)
{
    return replaceLocked(fileName, [&](const QByteArray &contents) {
               return IniFile::withEntry(contents, section, entry, text);
           }) == Replaced::Yes;
}

QString FileRegistry::findFile(const QString &name)
{
    // isFile() is false for folders, devices, pipes and sockets.
    const QFileInfo info(name);
    if (name.isEmpty() || !info.isFile() || info.isHidden())
        return QString();
    return info.fileName();
}
