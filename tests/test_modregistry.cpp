// Named values by hive name and type letter, over the registry store and over
// initialisation files.

#include "optimizer/modRegistry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using modRegistry::Value;

namespace
{

const QString tcpKey = u"System\\CurrentControlSet\\Services\\Vxd\\MSTCP"_s;

// The kind and the contents, so that a failed comparison says what it got.
QString shown(const Value &value)
{
    const char *kinds[] = {"text ", "boolean ", "integer "};
    return QLatin1String(kinds[value.index()]) + modRegistry::toText(value);
}

QByteArray bytesOf(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ModRegistryTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        store = std::make_unique<FileRegistry>(dir->filePath(u"registry.reg"_s));
    }

    void hiveNames_data()
    {
        QTest::addColumn<QString>("name"); // "./name": in the test's folder
        QTest::addColumn<uint>("root");
        QTest::newRow("HKCU") << u"HKCU"_s << uint(Registry::HKEY_CURRENT_USER);
        QTest::newRow("hklm") << u"hklm"_s << uint(Registry::HKEY_LOCAL_MACHINE);
        QTest::newRow("hKu") << u"hKu"_s << uint(Registry::HKEY_USERS);
        QTest::newRow("HKDD") << u"HKDD"_s << uint(Registry::HKEY_DYN_DATA);
        QTest::newRow("HKCC") << u"HKCC"_s << uint(Registry::HKEY_CURRENT_CONFIG);
        QTest::newRow("HKCR") << u"HKCR"_s << uint(Registry::HKEY_CLASSES_ROOT);
        QTest::newRow("full root key name") << u"HKEY_LOCAL_MACHINE"_s << 0u;
        QTest::newRow("with a blank") << u"HKLM "_s << 0u;
        QTest::newRow("empty") << QString() << 0u;
        QTest::newRow("a file") << u"./quorrel.ini"_s << modRegistry::FileMode;
        QTest::newRow("a file in capitals") << u"./QUORREL.INI"_s << 0u;
        QTest::newRow("a folder") << u"./"_s << 0u;
    }

    void hiveNames()
    {
        QFETCH(QString, name);
        QFETCH(uint, root);
        QFile ini(dir->filePath(u"quorrel.ini"_s));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        const QString resolved = name.startsWith(u"./") ? dir->filePath(name.mid(2)) : name;
        QCOMPARE(modRegistry::ResolveRoot(*store, resolved), root);
    }

    void reads_data()
    {
        QTest::addColumn<QString>("letter");
        QTest::addColumn<uint>("type"); // 0: no such value
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("status");
        QTest::addColumn<Value>("expected"); // the default is the text "Not Set"
        const Value notSet = u"Not Set"_s;
        const uint sz = Registry::REG_SZ;
        QTest::newRow("S") << u"S"_s << sz << QByteArray("576", 4) << 0 << Value(u"576"_s);
        QTest::newRow("S, trailing blank")
            << u"s"_s << sz << QByteArray("576 ", 5) << 0 << Value(u"576 "_s);
        QTest::newRow("S, only the NUL")
            << u"S"_s << sz << QByteArray(1, '\0') << 0 << Value(QString());
        QTest::newRow("S, no bytes") << u"S"_s << sz << QByteArray() << 0 << notSet;
        QTest::newRow("S, missing") << u"S"_s << 0u << QByteArray() << 2 << notSet;
        QTest::newRow("B true") << u"B"_s << 3u << QByteArray("\xff\xff", 2) << 0 << Value(true);
        QTest::newRow("b false") << u"b"_s << 3u << QByteArray("\0\0", 2) << 0 << Value(false);
        QTest::newRow("B high byte") << u"B"_s << 3u << QByteArray("\0\x01", 2) << 0 << Value(true);
        QTest::newRow("B one byte") << u"B"_s << 3u << QByteArray("\x01") << 0 << Value(true);
        QTest::newRow("B too long") << u"B"_s << 3u << QByteArray(3, '\0') << 234 << notSet;
        QTest::newRow("D minus one") << u"D"_s << 4u << QByteArray(4, '\xff') << 0 << Value(-1);
        QTest::newRow("d two bytes")
            << u"d"_s << 4u << QByteArray("\x34\x12") << 0 << Value(0x1234);
        QTest::newRow("D too long") << u"D"_s << 4u << QByteArray(5, '\x01') << 234 << notSet;
        QTest::newRow("unknown letter") << u"X"_s << 4u << QByteArray("\x01") << 0 << notSet;
        QTest::newRow("missing key") << u"S"_s << 0u << QByteArray("-") << 2 << notSet;
    }

    void reads()
    {
        QFETCH(QString, letter);
        QFETCH(uint, type);
        QFETCH(QByteArray, stored);
        QFETCH(int, status);
        QFETCH(Value, expected);
        RegistryKey key;
        std::uint32_t disposition = 0;
        if (stored != "-") {
            QCOMPARE(store->RegCreateKeyExA(Registry::HKEY_LOCAL_MACHINE, tcpKey, 0,
                                            Registry::KEY_SET_VALUE, key, disposition),
                     0);
            if (type != 0)
                QCOMPARE(store->RegSetValueExA(key, u"V"_s, type, stored), 0);
        }
        Value result = 7;
        QCOMPARE(
            modRegistry::ReadValue(*store, u"HKLM"_s, tcpKey, u"V"_s, letter, u"Not Set"_s, result),
            status);
        QCOMPARE(shown(result), shown(expected));
    }

    void writes_data()
    {
        QTest::addColumn<QString>("letter");
        QTest::addColumn<Value>("value");
        QTest::addColumn<int>("status");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("bytes"); // type 0: nothing is written
        const uint sz = Registry::REG_SZ, binary = Registry::REG_BINARY,
                   dword = Registry::REG_DWORD;
        const QByteArray allSet(4, '\xff');
        QTest::newRow("S true") << u"S"_s << Value(true) << 0 << sz << QByteArray("True", 5);
        QTest::newRow("s number") << u"s"_s << Value(-5) << 0 << sz << QByteArray("-5", 3);
        QTest::newRow("S empty") << u"S"_s << Value(QString()) << 0 << sz << QByteArray(1, '\0');
        QTest::newRow("S accents")
            << u"S"_s << Value(u"é"_s) << 0 << sz << u"é"_s.toLocal8Bit().append('\0');
        QTest::newRow("B true") << u"B"_s << Value(true) << 0 << binary
                                << QByteArray("\xff\xff", 2);
        QTest::newRow("b false") << u"b"_s << Value(false) << 0 << binary << QByteArray(2, '\0');
        QTest::newRow("B word") << u"B"_s << Value(u" tRUE "_s) << 0 << binary
                                << QByteArray("\xff\xff", 2);
        QTest::newRow("B zero") << u"B"_s << Value(u"0"_s) << 0 << binary << QByteArray(2, '\0');
        QTest::newRow("B fraction")
            << u"B"_s << Value(u"0.5"_s) << 0 << binary << QByteArray("\xff\xff", 2);
        QTest::newRow("B number") << u"B"_s << Value(2) << 0 << binary << QByteArray("\xff\xff", 2);
        QTest::newRow("D minus one") << u"D"_s << Value(-1) << 0 << dword << allSet;
        QTest::newRow("D true") << u"D"_s << Value(true) << 0 << dword << allSet;
        QTest::newRow("D highest")
            << u"D"_s << Value(32767) << 0 << dword << QByteArray("\xff\x7f\0\0", 4);
        QTest::newRow("D lowest") << u"D"_s << Value(u"-32768"_s) << 0 << dword
                                  << QByteArray("\0\x80\xff\xff", 4);
        QTest::newRow("D half to even, down")
            << u"D"_s << Value(u"12.5"_s) << 0 << dword << QByteArray("\x0c\0\0\0", 4);
        QTest::newRow("d half to even, up")
            << u"d"_s << Value(u"13.5"_s) << 0 << dword << QByteArray("\x0e\0\0\0", 4);
        QTest::newRow("D rounds into range")
            << u"D"_s << Value(u"-32768.5"_s) << 0 << dword << QByteArray("\0\x80\xff\xff", 4);
        // A value that does not convert writes nothing, yet the key is made.
        for (const auto &[name, value] :
             std::initializer_list<std::pair<const char *, Value>>{{"D above", 32768},
                                                                   {"D below", -32769},
                                                                   {"D rounds out", u"32767.5"_s},
                                                                   {"D no number", u"abc"_s},
                                                                   {"D empty", QString()},
                                                                   {"D infinite", u"inf"_s}})
            QTest::newRow(name) << u"D"_s << value << 87 << 0u << QByteArray();
        QTest::newRow("B no word") << u"B"_s << Value(u"maybe"_s) << 87 << 0u << QByteArray();
        QTest::newRow("unknown letter") << u"X"_s << Value(u"1"_s) << 0 << 0u << QByteArray();
    }

    void writes()
    {
        QFETCH(QString, letter);
        QFETCH(Value, value);
        QFETCH(int, status);
        QFETCH(uint, type);
        QFETCH(QByteArray, bytes);
        QCOMPARE(modRegistry::WriteValue(*store, u"hklm"_s, tcpKey, u"V"_s, letter, value), status);
        RegistryKey key;
        QCOMPARE(store->RegOpenKeyExA(Registry::HKEY_LOCAL_MACHINE, tcpKey, 0,
                                      Registry::KEY_QUERY_VALUE, key),
                 0);
        std::array<char, 64> buffer{};
        std::uint32_t storedType = 0, size = 0;
        const int found = store->RegQueryValueExA(key, u"V"_s, storedType, buffer, size);
        QCOMPARE(found, type == 0 ? 2 : 0);
        QCOMPARE(storedType, type);
        QCOMPARE(QByteArray(buffer.data(), size), bytes);
    }

    void failuresAreReported()
    {
        Value result;
        QCOMPARE(modRegistry::ReadValue(*store, u"HKEY_LOCAL_MACHINE"_s, tcpKey, u"V"_s, u"S"_s,
                                        Value(3), result),
                 modRegistry::NotDone);
        QCOMPARE(shown(result), shown(3));
        QCOMPARE(modRegistry::WriteValue(*store, u"HKEY_LOCAL_MACHINE"_s, tcpKey, u"V"_s, u"S"_s,
                                         u"1"_s),
                 modRegistry::NotDone);
        QVERIFY(!QFile::exists(store->fileName()));
        QCOMPARE(modRegistry::WriteValue(*store, u"HKLM"_s, tcpKey, u"V"_s, u"S"_s, u"1"_s), 0);
        QVERIFY(QFile::setPermissions(store->fileName(), QFileDevice::ReadOwner));
        QCOMPARE(modRegistry::WriteValue(*store, u"HKLM"_s, tcpKey, u"V"_s, u"S"_s, u"2"_s),
                 Registry::ERROR_ACCESS_DENIED);
        QCOMPARE(modRegistry::ReadValue(*store, u"HKLM"_s, tcpKey, u"V"_s, u"S"_s, {}, result), 0);
        QCOMPARE(shown(result), shown(u"1"_s));
    }

    void fileModeReadsAndWritesEntries()
    {
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        const QByteArray contents = "[TCP]\nMaxMTU=576\nLong=" + QByteArray(300, 'x') + "\n";
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
        file.close();
        const auto read = [&](const QString &entry, const QString &letter, const Value &fallback) {
            Value result;
            const int status =
                modRegistry::ReadValue(*store, ini, u"tcp"_s, entry, letter, fallback, result);
            return std::pair(status, shown(result));
        };
        QCOMPARE(read(u"maxmtu"_s, u"S"_s, QString()), std::pair(0, shown(u"576"_s)));
        QCOMPARE(read(u"Missing"_s, u"s"_s, 7), std::pair(0, shown(u"7"_s)));
        QCOMPARE(read(u"Long"_s, u"S"_s, QString()), std::pair(0, shown(QString(254, u'x'))));
        QCOMPARE(read(u"MaxMTU"_s, u"D"_s, QString()), std::pair(0, shown(576)));
        QCOMPARE(read(u"MaxMTU"_s, u"B"_s, QString()), std::pair(0, shown(576)));
        QCOMPARE(read(u"Missing"_s, u"D"_s, 9), std::pair(0, shown(0)));
        QCOMPARE(modRegistry::WriteValue(*store, ini, u"TCP"_s, u"MaxMTU"_s, u"D"_s, 1),
                 modRegistry::NotDone);
        QCOMPARE(bytesOf(ini), contents);
        QCOMPARE(modRegistry::WriteValue(*store, ini, u"TCP"_s, u"MaxMTU"_s, u"S"_s, true), 0);
        QVERIFY(bytesOf(ini).startsWith("[TCP]\nMaxMTU=True\nLong="));
        QVERIFY(!QFile::exists(store->fileName()));
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FileRegistry> store;
};

QTEST_GUILESS_MAIN(ModRegistryTest)
#include "test_modregistry.moc"
