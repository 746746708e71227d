#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QCoreApplication>
#include <QString>
#include <cstdint>

struct StorePlace;
#include <span>

// An open registry key. It is owned like a file handle: it cannot be copied,
// moving it hands the key over, and RegCloseKey closes it. A key that goes out
// of scope unclosed holds nothing that could leak.
class RegistryKey
{
public:
    RegistryKey() = default;
    RegistryKey(RegistryKey &&other) noexcept;
    RegistryKey &operator=(RegistryKey &&other) noexcept;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    ~RegistryKey() = default;

    bool isOpen() const { return !path_.isEmpty(); }

private:
    friend class FileRegistry;
    RegistryKey(QString path, std::uint32_t access) : path_(std::move(path)), access_(access) {}

    QString path_; // full path, root key name first; empty when closed
    std::uint32_t access_ = 0;
};

// The system registry and initialisation files, reached through the calls and
// status codes of the system's own interface. Texts are QStrings here; a value's
// data is raw bytes, so callers encode text values themselves.
class Registry
{
    Q_DECLARE_TR_FUNCTIONS(Registry)

public:
    using Status = std::int32_t;
    using Hkey = std::uint32_t;

    // The predefined root keys.
    static constexpr Hkey HKEY_CLASSES_ROOT = 0x80000000;
    static constexpr Hkey HKEY_CURRENT_USER = 0x80000001;
    static constexpr Hkey HKEY_LOCAL_MACHINE = 0x80000002;
    static constexpr Hkey HKEY_USERS = 0x80000003;
    static constexpr Hkey HKEY_CURRENT_CONFIG = 0x80000005;
    static constexpr Hkey HKEY_DYN_DATA = 0x80000006;

    // Value types.
    static constexpr std::uint32_t REG_SZ = 1;
    static constexpr std::uint32_t REG_BINARY = 3;
    static constexpr std::uint32_t REG_DWORD = 4;

    // Access rights, options and dispositions.
    static constexpr std::uint32_t KEY_QUERY_VALUE = 1;
    static constexpr std::uint32_t KEY_SET_VALUE = 2;
    static constexpr std::uint32_t KEY_CREATE_SUB_KEY = 4;
    static constexpr std::uint32_t REG_OPTION_NON_VOLATILE = 0;
    static constexpr std::uint32_t REG_CREATED_NEW_KEY = 1;
    static constexpr std::uint32_t REG_OPENED_EXISTING_KEY = 2;

    // Status codes: the system's error codes.
    static constexpr Status ERROR_SUCCESS = 0;
    static constexpr Status ERROR_FILE_NOT_FOUND = 2; // no such key or value
    static constexpr Status ERROR_PATH_NOT_FOUND = 3; // no folder where the store may go
    static constexpr Status ERROR_ACCESS_DENIED = 5;
    static constexpr Status ERROR_INVALID_HANDLE = 6;
    static constexpr Status ERROR_INVALID_PARAMETER = 87;
    static constexpr Status ERROR_BUSY = 170; // another process held the store for too long
    static constexpr Status ERROR_MORE_DATA = 234;
    static constexpr Status ERROR_BADDB = 1009; // the store cannot be read as a registry
    static constexpr Status ERROR_REGISTRY_IO_FAILED = 1016; // the store could not be read or saved

    virtual ~Registry() = default;

    // Opens an existing key. `options` must be 0.
    virtual Status RegOpenKeyExA(Hkey root, const QString &subKey, std::uint32_t options,
                                 std::uint32_t access, RegistryKey &result) = 0;
    // Copies the value's data into `data` and sets `size` to its length in bytes;
    // ERROR_MORE_DATA, with `size` set to the length needed, when `data` is too small.
    virtual Status RegQueryValueExA(const RegistryKey &key, const QString &valueName,
                                    std::uint32_t &type, std::span<char> data,
                                    std::uint32_t &size) = 0;
    // Opens a key, creating it and any missing parent keys first. The key's class
    // and security attributes of the system call mean nothing here and are left out.
    virtual Status RegCreateKeyExA(Hkey root, const QString &subKey, std::uint32_t options,
                                   std::uint32_t access, RegistryKey &result,
                                   std::uint32_t &disposition) = 0;
    virtual Status RegSetValueExA(const RegistryKey &key, const QString &valueName,
                                  std::uint32_t type, QByteArrayView data) = 0;
    virtual Status RegCloseKey(RegistryKey &key) = 0;

    // Initialisation files: `returned` receives at most size - 1 characters, the
    // entry's text or else `defaultText`; the result is their number.
    virtual int GetPrivateProfileStringA(const QString &section, const QString &entry,
                                         const QString &defaultText, QString &returned, int size,
                                         const QString &fileName) = 0;
    virtual std::int32_t GetPrivateProfileIntA(const QString &section, const QString &entry,
                                               std::int32_t defaultValue,
                                               const QString &fileName) = 0;
    virtual bool WritePrivateProfileStringA(const QString &section, const QString &entry,
                                            const QString &text, const QString &fileName) = 0;

    // The name of the normal file (no folder, hidden or special file) called
    // `name`, or an empty text.
    virtual QString findFile(const QString &name) = 0;

    // A short reason for a failed status, for the user.
    static QString describe(Status status);
};

// The registry kept in one REGEDIT4 text file, the initialisation files as real
// INI files. Every write re-reads the file under a lock file and replaces it
// atomically, so several Quorrel processes can share it. A file that cannot be
// read as a registry reads as empty and is never replaced (ERROR_BADDB); a file
// without any write permission is not replaced either (ERROR_ACCESS_DENIED).
class FileRegistry final : public Registry
{
public:
    // The file and its folder are created by the first write.
    explicit FileRegistry(QString fileName);
    // A refused place reads as empty and is never written (ERROR_PATH_NOT_FOUND).
    explicit FileRegistry(const StorePlace &file);
    // registry.reg in the "quorrel" folder of the user's data directory.
    static StorePlace defaultFileName();
    const QString &fileName() const { return fileName_; }

    Status RegOpenKeyExA(Hkey root, const QString &subKey, std::uint32_t options,
                         std::uint32_t access, RegistryKey &result) override;
    Status RegQueryValueExA(const RegistryKey &key, const QString &valueName, std::uint32_t &type,
                            std::span<char> data, std::uint32_t &size) override;
    Status RegCreateKeyExA(Hkey root, const QString &subKey, std::uint32_t options,
                           std::uint32_t access, RegistryKey &result,
                           std::uint32_t &disposition) override;
    Status RegSetValueExA(const RegistryKey &key, const QString &valueName, std::uint32_t type,
                          QByteArrayView data) override;
    Status RegCloseKey(RegistryKey &key) override;

    int GetPrivateProfileStringA(const QString &section, const QString &entry,
                                 const QString &defaultText, QString &returned, int size,
                                 const QString &fileName) override;
    std::int32_t GetPrivateProfileIntA(const QString &section, const QString &entry,
                                       std::int32_t defaultValue, const QString &fileName) override;
    bool WritePrivateProfileStringA(const QString &section, const QString &entry,
                                    const QString &text, const QString &fileName) override;

    QString findFile(const QString &name) override;

private:
    Status keyPath(Hkey root, const QString &subKey, QString &path) const;
    bool isFrozen() const;
    template <typename Change> Status modify(Change change);

    QString fileName_;
    bool refused_ = false;
};
