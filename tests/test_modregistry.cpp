// modRegistry: hive names, type letters, statuses and conversions, over the
// registry stand-in and over initialisation files.

#include "optimizer/modRegistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using modRegistry::Value;
Q_DECLARE_METATYPE(modRegistry::Value)

namespace
{

using Status = Registry::Status;

// Passes every call on to a real store and notes its name, so that a test can
// see which system calls were made and that each opened key was closed.
class RecordingRegistry final : public Registry
{
public:
    explicit RecordingRegistry(Registry &inner) : inner_(inner) {}

    QStringList calls;

    Status RegOpenKeyExA(Hkey root, const QString &subKey, std::uint32_t options,
                         std::uint32_t access, RegistryKey &result) override
    {
        calls << QStringLiteral("RegOpenKeyExA");
        return inner_.RegOpenKeyExA(root, subKey, options, access, result);
    }
    Status RegQueryValueExA(const RegistryKey &key, const QString &valueName, std::uint32_t &type,
                            std::span<char> data, std::uint32_t &size) override
    {
        calls << QStringLiteral("RegQueryValueExA");
        return inner_.RegQueryValueExA(key, valueName, type, data, size);
    }
    Status RegCreateKeyExA(Hkey root, const QString &subKey, std::uint32_t options,
                           std::uint32_t access, RegistryKey &result,
                           std::uint32_t &disposition) override
    {
        calls << QStringLiteral("RegCreateKeyExA");
        return inner_.RegCreateKeyExA(root, subKey, options, access, result, disposition);
    }
    Status RegSetValueExA(const RegistryKey &key, const QString &valueName, std::uint32_t type,
                          QByteArrayView data) override
    {
        calls << QStringLiteral("RegSetValueExA");
        return inner_.RegSetValueExA(key, valueName, type, data);
    }
    Status RegCloseKey(RegistryKey &key) override
    {
        calls << QStringLiteral("RegCloseKey");
        return inner_.RegCloseKey(key);
    }
    int GetPrivateProfileStringA(const QString &section, const QString &entry,
                                 const QString &defaultText, QString &returned, int size,
                                 const QString &fileName) override
    {
        calls << QStringLiteral("GetPrivateProfileStringA");
        return inner_.GetPrivateProfileStringA(section, entry, defaultText, returned, size,
                                               fileName);
    }
    std::int32_t GetPrivateProfileIntA(const QString &section, const QString &entry,
                                       std::int32_t defaultValue, const QString &fileName) override
    {
        calls << QStringLiteral("GetPrivateProfileIntA");
        return inner_.GetPrivateProfileIntA(section, entry, defaultValue, fileName);
    }
    bool WritePrivateProfileStringA(const QString &section, const QString &entry,
                                    const QString &text, const QString &fileName) override
    {
        calls << QStringLiteral("WritePrivateProfileStringA");
        return inner_.WritePrivateProfileStringA(section, entry, text, fileName);
    }
    QString findFile(const QString &name) override { return inner_.findFile(name); }

private:
    Registry &inner_;
};

const QString tcpKey = QStringLiteral("System\\CurrentControlSet\\Services\\Vxd\\MSTCP");

// The tag and the contents, so that a failed comparison says what it got.
QString shown(const Value &value)
{
    const char *tags[] = {"text", "boolean", "integer"};
    return QLatin1String(tags[value.index()]) + QLatin1Char(' ') + modRegistry::toText(value);
}

QByteArray bytesOf(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &fileName, const QByteArray &contents)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

} // namespace

class ModRegistryTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        store = std::make_unique<FileRegistry>(dir->filePath(QStringLiteral("registry.reg")));
        registry = std::make_unique<RecordingRegistry>(*store);
    }
    void cleanup()
    {
        registry.reset();
        store.reset();
        dir.reset();
    }

    void hiveNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<uint>("root");
        QTest::newRow("HKCU") << QStringLiteral("HKCU") << Registry::HKEY_CURRENT_USER;
        QTest::newRow("HKLM") << QStringLiteral("HKLM") << Registry::HKEY_LOCAL_MACHINE;
        QTest::newRow("lower case") << QStringLiteral("hklm") << Registry::HKEY_LOCAL_MACHINE;
        QTest::newRow("mixed case") << QStringLiteral("hKu") << Registry::HKEY_USERS;
        QTest::newRow("HKDD") << QStringLiteral("HKDD") << Registry::HKEY_DYN_DATA;
        QTest::newRow("HKCC") << QStringLiteral("HKCC") << Registry::HKEY_CURRENT_CONFIG;
        QTest::newRow("HKCR") << QStringLiteral("HKCR") << Registry::HKEY_CLASSES_ROOT;
        QTest::newRow("full root key name") << QStringLiteral("HKEY_LOCAL_MACHINE") << 0u;
        QTest::newRow("with a blank") << QStringLiteral("HKLM ") << 0u;
        QTest::newRow("empty") << QString() << 0u;
    }

    void hiveNames()
    {
        QFETCH(QString, name);
        QFETCH(uint, root);
        QCOMPARE(modRegistry::ResolveRoot(*registry, name), root);
    }

    void aFileNameSelectsFileMode()
    {
        const QString ini = dir->filePath(QStringLiteral("Quorrel.ini"));
        QVERIFY(writeFile(ini, "[s]\n"));
        QCOMPARE(modRegistry::ResolveRoot(*registry, ini), modRegistry::FileMode);
        // The name keeps its case: a file system that tells case apart finds nothing.
        QCOMPARE(modRegistry::ResolveRoot(*registry, ini.toUpper()), 0u);
        QCOMPARE(modRegistry::ResolveRoot(*registry, dir->path()), 0u);
        // A full root key name is a file name like any other.
        const QString named = dir->filePath(QStringLiteral("HKEY_LOCAL_MACHINE"));
        QVERIFY(writeFile(named, "[s]\n"));
        QCOMPARE(modRegistry::ResolveRoot(*registry, named), modRegistry::FileMode);
    }

    void readsText_data()
    {
        QTest::addColumn<QByteArray>("stored"); // empty: no such value
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("calls");
        const QString open = QStringLiteral("RegOpenKeyExA");
        const QString query = QStringLiteral("RegQueryValueExA");
        const QString close = QStringLiteral("RegCloseKey");
        QTest::newRow("a value") << QByteArray("576", 4) << true << 0 << QStringLiteral("576")
                                 << QStringList{open, query, query, close};
        QTest::newRow("a trailing blank")
            << QByteArray("576 ", 5) << true << 0 << QStringLiteral("576 ")
            << QStringList{open, query, query, close};
        QTest::newRow("only the NUL") << QByteArray(1, '\0') << true << 0 << QString()
                                      << QStringList{open, query, query, close};
        QTest::newRow("no bytes at all") << QByteArray() << true << 0 << QStringLiteral("Not Set")
                                         << QStringList{open, query, close};
        QTest::newRow("missing value") << QByteArray() << false << 2 << QStringLiteral("Not Set")
                                       << QStringList{open, query, close};
    }

    void readsText()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, exists);
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(QStringList, calls);
        storeRaw(QStringLiteral("Other"), Registry::REG_SZ, QByteArray("x", 2));
        if (exists)
            storeRaw(QStringLiteral("MaxMTU"), Registry::REG_SZ, stored);

        Value result = 7;
        QCOMPARE(modRegistry::ReadValue(*registry, QStringLiteral("HKLM"), tcpKey,
                                        QStringLiteral("MaxMTU"), QStringLiteral("S"),
                                        QStringLiteral("Not Set"), result),
                 status);
        QCOMPARE(shown(result), shown(text));
        QCOMPARE(registry->calls, calls);
    }

    void aMissingKeyOpensNothing()
    {
        Value result;
        QCOMPARE(modRegistry::ReadValue(*registry, QStringLiteral("HKLM"), tcpKey,
                                        QStringLiteral("MaxMTU"), QStringLiteral("S"),
                                        QStringLiteral("Not Set"), result),
                 Registry::ERROR_FILE_NOT_FOUND);
        QCOMPARE(shown(result), shown(QStringLiteral("Not Set")));
        QCOMPARE(registry->calls, QStringList{QStringLiteral("RegOpenKeyExA")});
    }

    void readsBooleansAndIntegers_data()
    {
        QTest::addColumn<QString>("letter");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("status");
        QTest::addColumn<Value>("expected");
        const Value fallback = QStringLiteral("default");
        QTest::newRow("B true") << QStringLiteral("B") << QByteArray("\xff\xff", 2) << 0
                                << Value(true);
        QTest::newRow("b false") << QStringLiteral("b") << QByteArray("\0\0", 2) << 0
                                 << Value(false);
        QTest::newRow("B high byte only")
            << QStringLiteral("B") << QByteArray("\0\x01", 2) << 0 << Value(true);
        QTest::newRow("B one byte")
            << QStringLiteral("B") << QByteArray("\x01", 1) << 0 << Value(true);
        QTest::newRow("B too long")
            << QStringLiteral("B") << QByteArray("\0\0\0", 3) << 234 << fallback;
        QTest::newRow("D minus one")
            << QStringLiteral("D") << QByteArray("\xff\xff\xff\xff", 4) << 0 << Value(-1);
        QTest::newRow("d two bytes")
            << QStringLiteral("d") << QByteArray("\x34\x12", 2) << 0 << Value(0x1234);
        QTest::newRow("D too long")
            << QStringLiteral("D") << QByteArray(5, '\x01') << 234 << fallback;
        QTest::newRow("unknown letter")
            << QStringLiteral("X") << QByteArray("\x01", 1) << 0 << fallback;
        QTest::newRow("two letters")
            << QStringLiteral("SZ") << QByteArray("\x01", 1) << 0 << fallback;
    }

    void readsBooleansAndIntegers()
    {
        QFETCH(QString, letter);
        QFETCH(QByteArray, stored);
        QFETCH(int, status);
        QFETCH(Value, expected);
        storeRaw(QStringLiteral("V"), Registry::REG_BINARY, stored);
        Value result;
        QCOMPARE(modRegistry::ReadValue(*registry, QStringLiteral("HKLM"), tcpKey,
                                        QStringLiteral("V"), letter, QStringLiteral("default"),
                                        result),
                 status);
        QCOMPARE(shown(result), shown(expected));
        QCOMPARE(registry->calls.first(), QStringLiteral("RegOpenKeyExA"));
        QCOMPARE(registry->calls.last(), QStringLiteral("RegCloseKey"));
        // A letter other than S, B and D makes no query at all.
        const bool known = letter.toUpper() == u"B" || letter.toUpper() == u"D";
        QCOMPARE(registry->calls.contains(QStringLiteral("RegQueryValueExA")), known);
    }

    void anUnknownHiveDoesNothing()
    {
        Value result;
        QCOMPARE(modRegistry::ReadValue(*registry, QStringLiteral("HKEY_LOCAL_MACHINE"), tcpKey,
                                        QStringLiteral("V"), QStringLiteral("S"), Value(3), result),
                 modRegistry::NotDone);
        QCOMPARE(shown(result), shown(3));
        QCOMPARE(modRegistry::WriteValue(*registry, QStringLiteral("HKEY_LOCAL_MACHINE"), tcpKey,
                                         QStringLiteral("V"), QStringLiteral("S"),
                                         QStringLiteral("576")),
                 modRegistry::NotDone);
        QCOMPARE(registry->calls, QStringList());
        QVERIFY(!QFile::exists(store->fileName()));
    }

    void writingTextCreatesTheKeyAndItsParents()
    {
        QCOMPARE(modRegistry::WriteValue(*registry, QStringLiteral("hklm"), tcpKey,
                                         QStringLiteral("DefaultTTL"), QStringLiteral("s"),
                                         QStringLiteral("128")),
                 modRegistry::Done);
        QCOMPARE(registry->calls,
                 QStringList({QStringLiteral("RegCreateKeyExA"), QStringLiteral("RegSetValueExA"),
                              QStringLiteral("RegCloseKey")}));
        QCOMPARE(storedRaw(QStringLiteral("DefaultTTL")),
                 std::pair(Registry::REG_SZ, QByteArray("128", 4)));
        RegistryKey parent;
        QCOMPARE(store->RegOpenKeyExA(Registry::HKEY_LOCAL_MACHINE,
                                      QStringLiteral("System\\CurrentControlSet\\Services"), 0,
                                      Registry::KEY_QUERY_VALUE, parent),
                 Registry::ERROR_SUCCESS);
    }

    void writesConvertedValues_data()
    {
        QTest::addColumn<QString>("letter");
        QTest::addColumn<Value>("value");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("bytes");
        const auto sz = Registry::REG_SZ;
        const auto binary = Registry::REG_BINARY;
        const auto dword = Registry::REG_DWORD;
        const QByteArray allSet("\xff\xff\xff\xff", 4);
        QTest::newRow("S true") << QStringLiteral("S") << Value(true) << sz
                                << QByteArray("True", 5);
        QTest::newRow("S number") << QStringLiteral("S") << Value(-5) << sz << QByteArray("-5", 3);
        QTest::newRow("S empty") << QStringLiteral("S") << Value(QString()) << sz
                                 << QByteArray(1, '\0');
        QTest::newRow("S accents") << QStringLiteral("S") << Value(QStringLiteral("é")) << sz
                                   << QStringLiteral("é").toLocal8Bit().append('\0');
        QTest::newRow("B true") << QStringLiteral("B") << Value(true) << binary
                                << QByteArray("\xff\xff", 2);
        QTest::newRow("b false") << QStringLiteral("b") << Value(false) << binary
                                 << QByteArray(2, '\0');
        QTest::newRow("B word") << QStringLiteral("B") << Value(QStringLiteral(" tRUE ")) << binary
                                << QByteArray("\xff\xff", 2);
        QTest::newRow("B zero text")
            << QStringLiteral("B") << Value(QStringLiteral("0")) << binary << QByteArray(2, '\0');
        QTest::newRow("B fraction") << QStringLiteral("B") << Value(QStringLiteral("0.5")) << binary
                                    << QByteArray("\xff\xff", 2);
        QTest::newRow("B number") << QStringLiteral("B") << Value(2) << binary
                                  << QByteArray("\xff\xff", 2);
        QTest::newRow("D minus one") << QStringLiteral("D") << Value(-1) << dword << allSet;
        QTest::newRow("D highest")
            << QStringLiteral("D") << Value(32767) << dword << QByteArray("\xff\x7f\0\0", 4);
        QTest::newRow("D lowest") << QStringLiteral("D") << Value(QStringLiteral("-32768")) << dword
                                  << QByteArray("\0\x80\xff\xff", 4);
        QTest::newRow("D half to even down") << QStringLiteral("D") << Value(QStringLiteral("12.5"))
                                             << dword << QByteArray("\x0c\0\0\0", 4);
        QTest::newRow("D half to even up") << QStringLiteral("d") << Value(QStringLiteral("13.5"))
                                           << dword << QByteArray("\x0e\0\0\0", 4);
        QTest::newRow("D rounds into range")
            << QStringLiteral("D") << Value(QStringLiteral("-32768.5")) << dword
            << QByteArray("\0\x80\xff\xff", 4);
        QTest::newRow("D true") << QStringLiteral("D") << Value(true) << dword << allSet;
    }

    void writesConvertedValues()
    {
        QFETCH(QString, letter);
        QFETCH(Value, value);
        QFETCH(uint, type);
        QFETCH(QByteArray, bytes);
        QCOMPARE(modRegistry::WriteValue(*registry, QStringLiteral("HKLM"), tcpKey,
                                         QStringLiteral("V"), letter, value),
                 modRegistry::Done);
        QCOMPARE(storedRaw(QStringLiteral("V")), std::pair(type, bytes));
    }

    void aValueThatDoesNotConvertIsRefused_data()
    {
        QTest::addColumn<QString>("letter");
        QTest::addColumn<Value>("value");
        QTest::newRow("D above range") << QStringLiteral("D") << Value(32768);
        QTest::newRow("D below range") << QStringLiteral("D") << Value(-32769);
        QTest::newRow("D rounds out of range")
            << QStringLiteral("D") << Value(QStringLiteral("32767.5"));
        QTest::newRow("D no number") << QStringLiteral("D") << Value(QStringLiteral("abc"));
        QTest::newRow("D empty text") << QStringLiteral("D") << Value(QString());
        QTest::newRow("D infinite") << QStringLiteral("D") << Value(QStringLiteral("inf"));
        QTest::newRow("B no word") << QStringLiteral("B") << Value(QStringLiteral("maybe"));
    }

    void aValueThatDoesNotConvertIsRefused()
    {
        QFETCH(QString, letter);
        QFETCH(Value, value);
        QCOMPARE(modRegistry::WriteValue(*registry, QStringLiteral("HKLM"), tcpKey,
                                         QStringLiteral("V"), letter, value),
                 Registry::ERROR_INVALID_PARAMETER);
        QCOMPARE(registry->calls,
                 QStringList({QStringLiteral("RegCreateKeyExA"), QStringLiteral("RegCloseKey")}));
        QCOMPARE(storedRaw(QStringLiteral("V")).first, 0u); // no such value
        RegistryKey key;
        QCOMPARE(store->RegOpenKeyExA(Registry::HKEY_LOCAL_MACHINE, tcpKey, 0,
                                      Registry::KEY_QUERY_VALUE, key),
                 Registry::ERROR_SUCCESS);
    }

    void aKeyThatCannotBeCreatedIsReported()
    {
        storeRaw(QStringLiteral("V"), Registry::REG_SZ, QByteArray("1", 2));
        QVERIFY(QFile::setPermissions(store->fileName(), QFileDevice::ReadOwner));
        registry->calls.clear();
        QCOMPARE(modRegistry::WriteValue(*registry, QStringLiteral("HKLM"), tcpKey,
                                         QStringLiteral("V"), QStringLiteral("S"),
                                         QStringLiteral("2")),
                 Registry::ERROR_ACCESS_DENIED);
        QCOMPARE(registry->calls, QStringList{QStringLiteral("RegCreateKeyExA")});
        QCOMPARE(storedRaw(QStringLiteral("V")).second, QByteArray("1", 2));
    }

    void fileModeReadsAndWritesEntries()
    {
        const QString ini = dir->filePath(QStringLiteral("quorrel.ini"));
        const QByteArray contents = "[TCP]\nMaxMTU=576\nLong=" + QByteArray(300, 'x') + "\n";
        QVERIFY(writeFile(ini, contents));
        const auto read = [&](const QString &entry, const QString &letter, const Value &fallback) {
            Value result;
            const std::int32_t status = modRegistry::ReadValue(
                *registry, ini, QStringLiteral("tcp"), entry, letter, fallback, result);
            return std::pair(status, shown(result));
        };
        QCOMPARE(read(QStringLiteral("maxmtu"), QStringLiteral("S"), Value(QString())),
                 std::pair(0, shown(QStringLiteral("576"))));
        QCOMPARE(read(QStringLiteral("Missing"), QStringLiteral("s"), Value(7)),
                 std::pair(0, shown(QStringLiteral("7"))));
        QCOMPARE(read(QStringLiteral("Long"), QStringLiteral("S"), Value(QString())),
                 std::pair(0, shown(QString(254, QLatin1Char('x')))));
        QCOMPARE(read(QStringLiteral("MaxMTU"), QStringLiteral("D"), Value(QString())),
                 std::pair(0, shown(576)));
        QCOMPARE(read(QStringLiteral("MaxMTU"), QStringLiteral("B"), Value(QString())),
                 std::pair(0, shown(576)));
        QCOMPARE(read(QStringLiteral("Missing"), QStringLiteral("D"), Value(9)),
                 std::pair(0, shown(0)));

        QCOMPARE(modRegistry::WriteValue(*registry, ini, QStringLiteral("TCP"),
                                         QStringLiteral("MaxMTU"), QStringLiteral("D"), Value(1)),
                 modRegistry::NotDone);
        QCOMPARE(bytesOf(ini), contents);
        QCOMPARE(modRegistry::WriteValue(*registry, ini, QStringLiteral("TCP"),
                                         QStringLiteral("MaxMTU"), QStringLiteral("S"), Value(1)),
                 modRegistry::Done);
        QVERIFY(bytesOf(ini).startsWith("[TCP]\nMaxMTU=1\nLong="));
        QVERIFY(!registry->calls.contains(QStringLiteral("RegOpenKeyExA")));
        QVERIFY(!registry->calls.contains(QStringLiteral("RegCreateKeyExA")));
    }

private:
    void storeRaw(const QString &name, std::uint32_t type, const QByteArray &data)
    {
        RegistryKey key;
        std::uint32_t disposition = 0;
        QCOMPARE(store->RegCreateKeyExA(Registry::HKEY_LOCAL_MACHINE, tcpKey, 0,
                                        Registry::KEY_SET_VALUE, key, disposition),
                 Registry::ERROR_SUCCESS);
        QCOMPARE(store->RegSetValueExA(key, name, type, data), Registry::ERROR_SUCCESS);
    }

    // The type and bytes of a value; type 0 and no bytes when it is missing.
    std::pair<uint, QByteArray> storedRaw(const QString &name)
    {
        RegistryKey key;
        std::array<char, 64> buffer{};
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        if (store->RegOpenKeyExA(Registry::HKEY_LOCAL_MACHINE, tcpKey, 0, Registry::KEY_QUERY_VALUE,
                                 key) != Registry::ERROR_SUCCESS ||
            store->RegQueryValueExA(key, name, type, buffer, size) != Registry::ERROR_SUCCESS)
            return {0u, QByteArray()};
        return {type, QByteArray(buffer.data(), size)};
    }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FileRegistry> store;
    std::unique_ptr<RecordingRegistry> registry;
};

QTEST_GUILESS_MAIN(ModRegistryTest)
#include "test_modregistry.moc"
