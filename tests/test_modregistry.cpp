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

const QString key = u"System\\CurrentControlSet\\Services\\Vxd\\MSTCP"_s;

// The kind and the contents, so that a failed comparison says what it got.
QString shown(const Value &value)
{
    const char *kinds[] = {"text ", "boolean ", "integer "};
    return QLatin1String(kinds[value.index()]) + modRegistry::toText(value);
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

    void hiveNames()
    {
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const std::pair<QString, std::uint32_t> names[] = {
            {u"HKCU"_s, Registry::HKEY_CURRENT_USER},
            {u"hklm"_s, Registry::HKEY_LOCAL_MACHINE},
            {u"hKu"_s, Registry::HKEY_USERS},
            {u"HKDD"_s, Registry::HKEY_DYN_DATA},
            {u"HKCC"_s, Registry::HKEY_CURRENT_CONFIG},
            {u"HKCR"_s, Registry::HKEY_CLASSES_ROOT},
            {u"HKEY_LOCAL_MACHINE"_s, 0},
            {u"HKLM "_s, 0},
            {QString(), 0},
            {ini, modRegistry::FileMode},
            {ini.toUpper(), 0},
            {dir->path(), 0},
        };
        for (const auto &[name, root] : names)
            QVERIFY2(modRegistry::ResolveRoot(*store, name) == root, qPrintable(name));
    }

    void reads()
    {
        const Value notSet = u"Not Set"_s;
        // The letter, the type and bytes stored (type 0: no value), the status and the result.
        const std::tuple<QString, std::uint32_t, QByteArray, int, Value> reads[] = {
            {u"S"_s, 1, QByteArray("576 ", 5), 0, u"576 "_s},
            {u"s"_s, 1, QByteArray(1, '\0'), 0, QString()},
            {u"S"_s, 1, QByteArray(), 0, notSet},
            {u"S"_s, 0, QByteArray(), 2, notSet},
            {u"B"_s, 3, QByteArray("\xff\xff", 2), 0, true},
            {u"b"_s, 3, QByteArray("\0\0", 2), 0, false},
            {u"B"_s, 3, QByteArray("\0\x01", 2), 0, true},
            {u"B"_s, 3, QByteArray("\x01"), 0, true},
            {u"B"_s, 3, QByteArray(3, '\0'), 234, notSet},
            {u"D"_s, 4, QByteArray(4, '\xff'), 0, -1},
            {u"d"_s, 4, QByteArray("\x34\x12"), 0, 0x1234},
            {u"D"_s, 4, QByteArray(5, '\x01'), 234, notSet},
            {u"X"_s, 4, QByteArray("\x01"), 0, notSet},
        };
        Value result;
        QCOMPARE(modRegistry::ReadValue(*store, u"HKLM"_s, key, u"V"_s, u"S"_s, notSet, result), 2);
        for (const auto &[letter, type, stored, status, expected] : reads) {
            RegistryKey opened;
            std::uint32_t disposition = 0;
            QCOMPARE(store->RegCreateKeyExA(Registry::HKEY_LOCAL_MACHINE, key, 0,
                                            Registry::KEY_SET_VALUE, opened, disposition),
                     0);
            if (type != 0)
                QCOMPARE(store->RegSetValueExA(opened, u"V"_s, type, stored), 0);
            const QString what = letter + u' ' + QString::fromLatin1(stored.toHex());
            QVERIFY2(modRegistry::ReadValue(*store, u"HKLM"_s, key, u"V"_s, letter, notSet,
                                            result) == status,
                     qPrintable(what));
            QVERIFY2(shown(result) == shown(expected), qPrintable(what + u": "_s + shown(result)));
            QVERIFY(QFile::remove(store->fileName()));
        }
    }

    void writes()
    {
        const QByteArray all(4, '\xff'), none;
        // The letter and value; the status, and the type and bytes stored (type 0: nothing).
        const std::tuple<QString, Value, int, std::uint32_t, QByteArray> writes[] = {
            {u"S"_s, true, 0, 1, QByteArray("True", 5)},
            {u"s"_s, -5, 0, 1, QByteArray("-5", 3)},
            {u"S"_s, QString(), 0, 1, QByteArray(1, '\0')},
            {u"S"_s, u"é"_s, 0, 1, u"é"_s.toLocal8Bit() + '\0'},
            {u"B"_s, true, 0, 3, QByteArray("\xff\xff", 2)},
            {u"b"_s, false, 0, 3, QByteArray(2, '\0')},
            {u"B"_s, u" tRUE "_s, 0, 3, QByteArray("\xff\xff", 2)},
            {u"B"_s, u"0"_s, 0, 3, QByteArray(2, '\0')},
            {u"B"_s, u"0.5"_s, 0, 3, QByteArray("\xff\xff", 2)},
            {u"B"_s, 2, 0, 3, QByteArray("\xff\xff", 2)},
            {u"D"_s, -1, 0, 4, all},
            {u"D"_s, true, 0, 4, all},
            {u"D"_s, 32767, 0, 4, QByteArray("\xff\x7f\0\0", 4)},
            {u"D"_s, u"-32768"_s, 0, 4, QByteArray("\0\x80\xff\xff", 4)},
            {u"D"_s, u"12.5"_s, 0, 4, QByteArray("\x0c\0\0\0", 4)},
            {u"d"_s, u"13.5"_s, 0, 4, QByteArray("\x0e\0\0\0", 4)},
            {u"D"_s, u"-32768.5"_s, 0, 4, QByteArray("\0\x80\xff\xff", 4)},
            {u"D"_s, 32768, 87, 0, none},
            {u"D"_s, -32769, 87, 0, none},
            {u"D"_s, u"32767.5"_s, 87, 0, none},
            {u"D"_s, u"abc"_s, 87, 0, none},
            {u"D"_s, QString(), 87, 0, none},
            {u"D"_s, u"inf"_s, 87, 0, none},
            {u"B"_s, u"maybe"_s, 87, 0, none},
            {u"X"_s, u"1"_s, 0, 0, none},
        };
        for (const auto &[letter, value, status, type, bytes] : writes) {
            const QString what = letter + u' ' + shown(value);
            QVERIFY2(modRegistry::WriteValue(*store, u"hklm"_s, key, u"V"_s, letter, value) ==
                         status,
                     qPrintable(what));
            RegistryKey opened;
            std::array<char, 64> buffer{};
            std::uint32_t storedType = 0, size = 0;
            // The key is made even when the value is not written.
            QCOMPARE(store->RegOpenKeyExA(Registry::HKEY_LOCAL_MACHINE, key, 0,
                                          Registry::KEY_QUERY_VALUE, opened),
                     0);
            store->RegQueryValueExA(opened, u"V"_s, storedType, buffer, size);
            QVERIFY2(storedType == type && QByteArray(buffer.data(), size) == bytes,
                     qPrintable(what));
            QVERIFY(QFile::remove(store->fileName()));
        }
    }

    void failuresAreReported()
    {
        Value result;
        QCOMPARE(
            modRegistry::ReadValue(*store, u"HKEY_LOCAL_MACHINE"_s, key, u"V"_s, u"S"_s, 3, result),
            modRegistry::NotDone);
        QCOMPARE(shown(result), shown(3));
        QCOMPARE(modRegistry::WriteValue(*store, u"HKEY_LOCAL_MACHINE"_s, key, u"V"_s, u"S"_s, 1),
                 modRegistry::NotDone);
        QVERIFY(!QFile::exists(store->fileName()));
        QCOMPARE(modRegistry::WriteValue(*store, u"HKLM"_s, key, u"V"_s, u"S"_s, u"1"_s), 0);
        QVERIFY(QFile::setPermissions(store->fileName(), QFileDevice::ReadOwner));
        QCOMPARE(modRegistry::WriteValue(*store, u"HKLM"_s, key, u"V"_s, u"S"_s, u"2"_s),
                 Registry::ERROR_ACCESS_DENIED);
        QCOMPARE(modRegistry::ReadValue(*store, u"HKLM"_s, key, u"V"_s, u"S"_s, {}, result), 0);
        QCOMPARE(shown(result), shown(u"1"_s));
    }

    void fileModeReadsAndWritesEntries()
    {
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        const QByteArray contents = "[TCP]\nMaxMTU=576\nLong=" + QByteArray(300, 'x') + "\n";
        const auto fileNow = [&ini] {
            QFile file(ini);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
        file.close();
        const std::tuple<QString, QString, Value, Value> reads[] = {
            {u"maxmtu"_s, u"S"_s, QString(), u"576"_s},
            {u"Missing"_s, u"s"_s, 7, u"7"_s},
            {u"Long"_s, u"S"_s, QString(), QString(254, u'x')},
            {u"MaxMTU"_s, u"D"_s, QString(), 576},
            {u"MaxMTU"_s, u"B"_s, QString(), 576},
            {u"Missing"_s, u"D"_s, 9, 0},
        };
        for (const auto &[entry, letter, fallback, expected] : reads) {
            Value result;
            QCOMPARE(modRegistry::ReadValue(*store, ini, u"tcp"_s, entry, letter, fallback, result),
                     0);
            QCOMPARE(shown(result), shown(expected));
        }
        QCOMPARE(modRegistry::WriteValue(*store, ini, u"TCP"_s, u"MaxMTU"_s, u"D"_s, 1),
                 modRegistry::NotDone);
        QCOMPARE(fileNow(), contents);
        QCOMPARE(modRegistry::WriteValue(*store, ini, u"TCP"_s, u"MaxMTU"_s, u"S"_s, true), 0);
        QCOMPARE(fileNow(), "[TCP]\nMaxMTU=True\nLong=" + QByteArray(300, 'x') + "\n");
        QVERIFY(!QFile::exists(store->fileName()));
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FileRegistry> store;
};

QTEST_GUILESS_MAIN(ModRegistryTest)
#include "test_modregistry.moc"
