// The registry store file and the initialisation files, through the system's
// calls and status codes, and named values by hive name and type letter.

#include "optimizer/modRegistry.h"
#include "parser_checks.h"
#include "support/TestRig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace
{

using Status = Registry::Status;
using modRegistry::Value;
constexpr auto HKLM = Registry::HKEY_LOCAL_MACHINE;
constexpr std::uint32_t reading = Registry::KEY_QUERY_VALUE;
constexpr std::uint32_t writing = Registry::KEY_SET_VALUE | Registry::KEY_CREATE_SUB_KEY;

Status create(Registry &registry, const QString &subKey, RegistryKey &key,
              std::uint32_t options = 0, Registry::Hkey root = HKLM)
{
    std::uint32_t disposition = 0;
    return registry.RegCreateKeyExA(root, subKey, options, writing, key, disposition);
}

Status setValue(Registry &registry, const QString &subKey, const QString &name, std::uint32_t type,
                const QByteArray &data)
{
    RegistryKey key;
    const Status created = create(registry, subKey, key);
    return created != 0 ? created : registry.RegSetValueExA(key, name, type, data);
}

Status openKey(Registry &registry, const QString &subKey, Registry::Hkey root = HKLM)
{
    RegistryKey key;
    return registry.RegOpenKeyExA(root, subKey, 0, reading, key);
}

// The status, type and bytes of a value: asks for the size, then reads into
// a buffer of exactly that size.
std::tuple<Status, std::uint32_t, QByteArray> queryValue(Registry &registry, const QString &subKey,
                                                         const QString &name)
{
    RegistryKey key;
    std::uint32_t type = 0, size = 0;
    QByteArray data;
    Status status = registry.RegOpenKeyExA(HKLM, subKey, 0, reading, key);
    if (status == 0)
        status = registry.RegQueryValueExA(key, name, type, {}, size);
    if (status == Registry::ERROR_MORE_DATA) {
        data.resize(size);
        status = registry.RegQueryValueExA(key, name, type, std::span(data.data(), size), size);
    }
    return {status, type, data};
}

// The kind and the contents, so that a failed comparison says what it got.
QString shown(const Value &value)
{
    const char *kinds[] = {"text ", "boolean ", "integer "};
    return QLatin1String(kinds[value.index()]) + modRegistry::toText(value);
}

} // namespace

class RegistryTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        storeFile = dir->filePath(u"data/registry.reg"_s);
        store = std::make_unique<FileRegistry>(storeFile);
    }

    void statuses()
    {
        QCOMPARE(setValue(*store, u"A"_s, u"other"_s, Registry::REG_SZ, "1"), 0);
        RegistryKey closed, forReading, forWriting, key;
        std::uint32_t type = 0, size = 0;
        QCOMPARE(store->RegOpenKeyExA(HKLM, u"A"_s, 0, reading, forReading), 0);
        QCOMPARE(create(*store, u"A"_s, forWriting), 0);
        const struct {
            const char *what;
            Status got;
            Status expected;
        } calls[] = {
            {"query, closed key", store->RegQueryValueExA(closed, u"x"_s, type, {}, size), 6},
            {"set, closed key", store->RegSetValueExA(closed, u"x"_s, 1, "1"), 6},
            {"create under 0x80000004", create(*store, u"A"_s, key, 0, 0x80000004), 6},
            {"create, options 1", create(*store, u"B"_s, key, 1), 87},
            {"create, line break", create(*store, u"B\nC"_s, key), 87},
            {"open, options 1", store->RegOpenKeyExA(HKLM, u"A"_s, 1, reading, key), 87},
            {"query, key for writing",
             store->RegQueryValueExA(forWriting, u"other"_s, type, {}, size), 5},
            {"set, key for reading", store->RegSetValueExA(forReading, u"x"_s, 1, "1"), 5},
            {"set, line break", store->RegSetValueExA(forWriting, u"a\nb"_s, 1, "1"), 87},
            {"query, missing value", store->RegQueryValueExA(forReading, u"x"_s, type, {}, size),
             2},
            {"open, missing key", openKey(*store, u"B"_s), 2},
            {"open, root alone", openKey(*store, {}), 0}};
        for (const auto &call : calls)
            QVERIFY2(call.got == call.expected, call.what);
    }

    void theFileIsAReadableExportInWhichNamesMatchInAnyCase()
    {
        RegistryKey key;
        std::uint32_t disposition = 0;
        for (const uint expected :
             {Registry::REG_CREATED_NEW_KEY, Registry::REG_OPENED_EXISTING_KEY}) {
            QCOMPARE(
                store->RegCreateKeyExA(HKLM, u"System\\Tcp\\Deep"_s, 0, writing, key, disposition),
                0);
            QCOMPARE(disposition, expected);
        }
        QCOMPARE(openKey(*store, u"System\\Other"_s), 2);
        const QString tcp = u"SYSTEM\\tcp"_s;
        QCOMPARE(setValue(*store, u"system\\TCP"_s, u"MaxMTU"_s, 1, QByteArray("576", 4)), 0);
        QCOMPARE(setValue(*store, tcp, u"MAXMTU"_s, 1, QByteArray("1500", 5)), 0);
        setValue(*store, tcp, u"Flags"_s, Registry::REG_DWORD, QByteArray("\x34\x12\0\0", 4));
        setValue(*store, tcp, u"Raw"_s, Registry::REG_BINARY, QByteArray("\xff\x00\x01", 3));
        setValue(*store, tcp, u"Odd"_s, Registry::REG_SZ, "ab");
        setValue(*store, tcp, QString(), Registry::REG_SZ, QByteArray("a \"b\" c:\\", 10));
        QCOMPARE(queryValue(*store, u"System\\Tcp"_s, u"maxmtu"_s),
                 std::tuple(0, 1u, QByteArray("1500", 5)));
        // One key and one value each, spelled as they were first made.
        QCOMPARE(fileBytes(storeFile), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System]\n\n"
                                       "[HKEY_LOCAL_MACHINE\\System\\Tcp]\n\"MaxMTU\"=\"1500\"\n"
                                       "\"Flags\"=dword:00001234\n\"Raw\"=hex:ff,00,01\n"
                                       "\"Odd\"=hex(1):61,62\n@=\"a \\\"b\\\" c:\\\\\"\n\n"
                                       "[HKEY_LOCAL_MACHINE\\System\\Tcp\\Deep]\n\n");
    }

    void valuesComeBackExactly()
    {
        const std::tuple<QString, std::uint32_t, QByteArray> values[] = {
            {u"MaxMTU"_s, 1, QByteArray("576", 4)},
            {u"only the NUL"_s, 1, QByteArray(1, '\0')},
            {u"no bytes"_s, 1, QByteArray()},
            {u"no final NUL"_s, 1, "abc"},
            {u"NUL inside"_s, 1, QByteArray("a\0b", 4)},
            {u"line break"_s, 1, QByteArray("a\r\nb", 5)},
            {u"say \"hi\" \\"_s, 1, "C:\\\"x\"\\"},
            {u"Grüße"_s, 1, u"Grüße"_s.toLocal8Bit() + '\0'},
            {u"no UTF-8"_s, 1, QByteArray("\xff\xfe", 3)},
            {QString(), 1, QByteArray("d", 2)},
            {u"dword"_s, 4, "\x78\x56\x34\x12"},
            {u"short dword"_s, 4, "\x01\x02"},
            {u"binary"_s, 3, QByteArray("\xff\0", 2)},
            {u"large type"_s, 0xfedcba98, QByteArray("a\0b", 4)}};
        for (const auto &[name, type, data] : values)
            QCOMPARE(setValue(*store, u"K"_s, name, type, data), 0);
        FileRegistry reader(storeFile);
        for (const auto &[name, type, data] : values)
            QCOMPARE(queryValue(reader, u"K"_s, name), std::tuple(0, type, data));
    }

    void aDamagedFileReadsEmptyAndIsKept()
    {
        const QByteArray head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System]\n\"Kept\"=\"1\"\n";
        for (const QByteArray &file :
             {head.mid(10), head + "[HKEY_NOWHERE\\Key]", head + "[HKEY_LOCAL_MACHINE\\A\\\\B]",
              head + "[-HKEY_LOCAL_MACHINE\\System]", head + "\"Kept\"=-", head + "\"a\"=\"\\n\"",
              head + "\"a\"=\"576", head + "\"a\"=\"576\" x", head + "\"a\"=hex:0g",
              head + "\"a\"=dword:000000001", head + "\"a\"=\"\xff\"", head + "some words"}) {
            QVERIFY(writeWholeFile(storeFile, file));
            RegistryKey key;
            QVERIFY2(openKey(*store, u"System"_s) == 2, file.constData());
            QCOMPARE(create(*store, u"System"_s, key), Registry::ERROR_BADDB);
            QCOMPARE(fileBytes(storeFile), file);
        }
        // An empty file has nothing to lose.
        QVERIFY(writeWholeFile(storeFile, {}));
        QCOMPARE(setValue(*store, u"System"_s, u"a"_s, 1, "1"), 0);
    }

    void aStoreThatCannotBeWrittenIsKept()
    {
        RegistryKey key;
        QCOMPARE(setValue(*store, u"K"_s, u"a"_s, Registry::REG_SZ, QByteArray("1", 2)), 0);
        QCOMPARE(create(*store, u"K"_s, key), 0);
        QVERIFY(QFile::setPermissions(storeFile, QFileDevice::ReadOwner | QFileDevice::ReadOther));
        const QByteArray before = fileBytes(storeFile);
        QCOMPARE(store->RegSetValueExA(key, u"a"_s, Registry::REG_SZ, "2"), 5);
        QCOMPARE(create(*store, u"New"_s, key), 5);
        QCOMPARE(fileBytes(storeFile), before);
        // A plain file where the store's folder should be: nothing can be saved there.
        QVERIFY(writeWholeFile(dir->filePath(u"blocker"_s), "not a folder"));
        FileRegistry unsavable(dir->filePath(u"blocker/registry.reg"_s));
        QCOMPARE(setValue(unsavable, u"K"_s, u"a"_s, Registry::REG_SZ, "1"), 1016);
    }

    void profileReads()
    {
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        QVERIFY(
            writeWholeFile(ini, "[Options]\n  Name  =  Quorrel  \nQuoted=\"  padded  \"\nEmpty=\n"
                                ";Gone=1\nNumber=  42abc\nNegative=-7\nLong=" +
                                    QByteArray(300, 'x') + "\n[Other]\nName=Other\n"));
        // Section, entry, buffer size; the text and number read, the defaults "default" and 5.
        const std::tuple<QString, QString, int, QString, int> reads[] = {
            {u"options"_s, u"NAME"_s, 255, u"Quorrel"_s, 0},
            {u"Options"_s, u"Quoted"_s, 255, u"  padded  "_s, 0},
            {u"Options"_s, u"Number"_s, 255, u"42abc"_s, 42},
            {u"Options"_s, u"Negative"_s, 255, u"-7"_s, -7},
            {u"Options"_s, u"Missing"_s, 255, u"default"_s, 5},
            {u"Options"_s, u"Long"_s, 255, QString(254, u'x'), 0},
            {u"Options"_s, u"Missing"_s, 4, u"def"_s, 5}};
        for (const auto &[section, entry, size, text, number] : reads) {
            QString read;
            QCOMPARE(store->GetPrivateProfileStringA(section, entry, u"default"_s, read, size, ini),
                     text.size());
            QCOMPARE(read, text);
            QCOMPARE(store->GetPrivateProfileIntA(section, entry, 5, ini), number);
        }
    }

    void profileWritesKeepEveryOtherLine()
    {
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        QVERIFY(writeWholeFile(ini, "; keep me\r\n[Options]\r\nName=Old\r\nOther=1\r\n\r\n"
                                    "[Next]\r\n\xe9t\xe9=not UTF-8\r\n"));
        QVERIFY(store->WritePrivateProfileStringA(u"OPTIONS"_s, u"name"_s, u"New"_s, ini));
        QVERIFY(store->WritePrivateProfileStringA(u"Options"_s, u"Added"_s, u"2"_s, ini));
        QVERIFY(store->WritePrivateProfileStringA(u"Fresh"_s, u"Key"_s, u"v"_s, ini));
        QCOMPARE(fileBytes(ini), "; keep me\r\n[Options]\r\nname=New\r\nOther=1\r\nAdded=2\r\n\r\n"
                                 "[Next]\r\n\xe9t\xe9=not UTF-8\r\n[Fresh]\r\nKey=v\r\n");
        QVERIFY(store->WritePrivateProfileStringA(u"S"_s, u"K"_s, u"v"_s, ini + u".new"_s));
        QCOMPARE(fileBytes(ini + u".new"_s), "[S]\nK=v\n");
        // Lines that would not read back as that section and entry are refused.
        const QByteArray before = "[Options]\nName=Old\n[Other]\nName=Kept\n";
        QVERIFY(writeWholeFile(ini, before));
        for (const auto &[section, entry, text] :
             std::initializer_list<std::tuple<QString, QString, QString>>{
                 {u"Options]Other"_s, u"Name"_s, u"x"_s},
                 {u"Options"_s, u"Other=2;Name"_s, u"x"_s},
                 {u"Options"_s, u";Name"_s, u"x"_s},
                 {u"Options"_s, u"Name"_s, u"x\n[Other]\nName=y"_s}})
            QVERIFY2(!store->WritePrivateProfileStringA(section, entry, text, ini),
                     qPrintable(section + entry + text));
        QCOMPARE(fileBytes(ini), before);
    }

    void findFileFindsNormalFilesOnly()
    {
        QVERIFY(writeWholeFile(dir->filePath(u"normal.ini"_s), "x"));
        QVERIFY(writeWholeFile(dir->filePath(u".hidden.ini"_s), "x"));
        QCOMPARE(mkfifo(QFile::encodeName(dir->filePath(u"pipe"_s)).constData(), 0600), 0);
        QCOMPARE(store->findFile(dir->filePath(u"normal.ini"_s)), u"normal.ini"_s);
        for (const QString &name : {u".hidden.ini"_s, u"pipe"_s, u"missing.ini"_s, QString()})
            QCOMPARE(store->findFile(name.isEmpty() ? dir->path() : dir->filePath(name)),
                     QString());
        QCOMPARE(store->findFile(QString()), QString());
    }

    void hiveNames()
    {
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        QVERIFY(writeWholeFile(ini, {}));
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
            {dir->path(), 0}};
        for (const auto &[name, root] : names)
            QVERIFY2(modRegistry::ResolveRoot(*store, name) == root, qPrintable(name));
    }

    void reads()
    {
        const Value notSet = u"Not Set"_s;
        // The letter, the type and bytes stored (type 0: no value), the status and the result.
        const std::tuple<QString, std::uint32_t, QByteArray, int, Value> reads[] = {
            {u"S"_s, 1, QByteArray("576 ", 5), 0, u"576 "_s},
            {u"S"_s, 1, QByteArray(), 0, notSet},
            {u"S"_s, 0, QByteArray(), 2, notSet},
            {u"B"_s, 3, QByteArray("\xff\xff", 2), 0, true},
            {u"B"_s, 3, QByteArray("\0\x01", 2), 0, true},
            {u"B"_s, 3, QByteArray(3, '\0'), 234, notSet},
            {u"D"_s, 4, QByteArray(4, '\xff'), 0, -1},
            {u"D"_s, 4, QByteArray(5, '\x01'), 234, notSet},
            {u"X"_s, 4, QByteArray("\x01"), 0, notSet}};
        Value result;
        QCOMPARE(modRegistry::ReadValue(*store, u"HKLM"_s, tcp, u"V"_s, u"S"_s, notSet, result), 2);
        for (const auto &[letter, type, stored, status, expected] : reads) {
            RegistryKey opened;
            QCOMPARE(type ? setValue(*store, tcp, u"V"_s, type, stored)
                          : create(*store, tcp, opened),
                     0);
            const QString what = letter + u' ' + QString::fromLatin1(stored.toHex());
            QVERIFY2(modRegistry::ReadValue(*store, u"HKLM"_s, tcp, u"V"_s, letter, notSet,
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
            {u"S"_s, u"é"_s, 0, 1, u"é"_s.toLocal8Bit() + '\0'},
            {u"B"_s, true, 0, 3, QByteArray("\xff\xff", 2)},
            {u"B"_s, u" tRUE "_s, 0, 3, QByteArray("\xff\xff", 2)},
            {u"B"_s, u"0.5"_s, 0, 3, QByteArray("\xff\xff", 2)},
            {u"D"_s, -1, 0, 4, all},
            {u"D"_s, 32767, 0, 4, QByteArray("\xff\x7f\0\0", 4)},
            {u"D"_s, u"-32768"_s, 0, 4, QByteArray("\0\x80\xff\xff", 4)},
            {u"D"_s, u"12.5"_s, 0, 4, QByteArray("\x0c\0\0\0", 4)},
            {u"d"_s, u"13.5"_s, 0, 4, QByteArray("\x0e\0\0\0", 4)},
            {u"D"_s, u"-32768.5"_s, 0, 4, QByteArray("\0\x80\xff\xff", 4)},
            {u"D"_s, 32768, 87, 0, none},
            {u"D"_s, u"32767.5"_s, 87, 0, none},
            {u"D"_s, u"inf"_s, 87, 0, none},
            {u"B"_s, u"maybe"_s, 87, 0, none}};
        for (const auto &[letter, value, status, type, bytes] : writes) {
            const QString what = letter + u' ' + shown(value);
            QVERIFY2(modRegistry::WriteValue(*store, u"hklm"_s, tcp, u"V"_s, letter, value) ==
                         status,
                     qPrintable(what));
            // The key is made even when the value is not written.
            QVERIFY2(queryValue(*store, tcp, u"V"_s) == std::tuple(type ? 0 : 2, type, bytes),
                     qPrintable(what));
            QVERIFY(QFile::remove(store->fileName()));
        }
    }

    void failuresAreReported()
    {
        Value result;
        QCOMPARE(
            modRegistry::ReadValue(*store, u"HKEY_LOCAL_MACHINE"_s, tcp, u"V"_s, u"S"_s, 3, result),
            modRegistry::NotDone);
        QCOMPARE(shown(result), shown(3));
        QCOMPARE(modRegistry::WriteValue(*store, u"HKEY_LOCAL_MACHINE"_s, tcp, u"V"_s, u"S"_s, 1),
                 modRegistry::NotDone);
        QVERIFY(!QFile::exists(store->fileName()));
    }

    void fileModeReadsAndWritesEntries()
    {
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        const QByteArray contents = "[TCP]\nMaxMTU=576\nLong=" + QByteArray(300, 'x') + "\n";
        QVERIFY(writeWholeFile(ini, contents));
        const std::tuple<QString, QString, Value, Value> reads[] = {
            {u"maxmtu"_s, u"S"_s, QString(), u"576"_s}, {u"MaxMTU"_s, u"D"_s, QString(), 576}};
        for (const auto &[entry, letter, fallback, expected] : reads) {
            Value result;
            QCOMPARE(modRegistry::ReadValue(*store, ini, u"tcp"_s, entry, letter, fallback, result),
                     0);
            QCOMPARE(shown(result), shown(expected));
        }
        QCOMPARE(modRegistry::WriteValue(*store, ini, u"TCP"_s, u"MaxMTU"_s, u"D"_s, 1),
                 modRegistry::NotDone);
        QCOMPARE(fileBytes(ini), contents);
        QCOMPARE(modRegistry::WriteValue(*store, ini, u"TCP"_s, u"MaxMTU"_s, u"S"_s, true), 0);
        QCOMPARE(fileBytes(ini), "[TCP]\nMaxMTU=True\nLong=" + QByteArray(300, 'x') + "\n");
        QVERIFY(!QFile::exists(store->fileName()));
    }

    // The seeds kept in fuzz/ and the inputs that once broke a parser, through
    // the checks the fuzz targets make.
    void fuzzInputs()
    {
        for (const QString &kind : {u"corpus/"_s, u"regressions/"_s}) {
            for (const QString &target : {u"registry"_s, u"ini"_s}) {
                const QDir folder(QStringLiteral(QUORREL_FUZZ_DIR "/") + kind + target);
                QVERIFY2(kind != u"corpus/" || !folder.isEmpty(), qPrintable(folder.path()));
                for (const QString &name : folder.entryList(QDir::Files)) {
                    const QByteArray input = fileBytes(folder.filePath(name));
                    const auto broken =
                        target == u"ini" ? checkIniFile(input) : checkRegistryFile(input);
                    QVERIFY2(!broken, qPrintable(name + u": "_s + broken.value_or(QString())));
                }
            }
        }
    }

private:
    const QString tcp = u"System\\CurrentControlSet\\Services\\Vxd\\MSTCP"_s;
    std::unique_ptr<QTemporaryDir> dir;
    QString storeFile;
    std::unique_ptr<FileRegistry> store;
};

QTEST_GUILESS_MAIN(RegistryTest)
#include "test_registry.moc"
