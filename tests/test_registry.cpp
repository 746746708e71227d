// The registry store file and the initialisation files, through the system's
// calls and status codes, and named values by hive name and type letter.

#include "optimizer/modRegistry.h"
#include "parser_checks.h"
#include "support/TestRig.h"

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace
{

using Status = Registry::Status;
using modRegistry::Datum;
constexpr auto HKLM = Registry::HKEY_LOCAL_MACHINE;
constexpr std::uint32_t reading = Registry::KEY_QUERY_VALUE;
constexpr std::uint32_t writing = Registry::KEY_SET_VALUE | Registry::KEY_CREATE_SUB_KEY;

Status create(Registry &registry, const QString &subKey, RegistryKey &key)
{
    std::uint32_t disposition = 0;
    return registry.RegCreateKeyExA(HKLM, subKey, 0, writing, key, disposition);
}

Status setValue(Registry &registry, const QString &subKey, const QString &name, std::uint32_t type,
                const QByteArray &data)
{
    RegistryKey key;
    const Status created = create(registry, subKey, key);
    return created != 0 ? created : registry.RegSetValueExA(key, name, type, data);
}

Status openKey(Registry &registry, const QString &subKey)
{
    RegistryKey key;
    return registry.RegOpenKeyExA(HKLM, subKey, 0, reading, key);
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
QString shown(const Datum &value)
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

    // Each value written, then the file as an export, then each read back.
    void theFileIsAReadableExportThatGivesEveryValueBack()
    {
        // Name, type, bytes, and the line the file shows (none: the bytes as written).
        const std::tuple<QString, std::uint32_t, QByteArray, QByteArray> values[] = {
            {u"MaxMTU"_s, 1, QByteArray("576", 4), "\"MaxMTU\"=\"1500\""},
            {u"MAXMTU"_s, 1, QByteArray("1500", 5), {}}, // the same name in another case
            {u"only the NUL"_s, 1, QByteArray(1, '\0'), "\"only the NUL\"=\"\""},
            {u"no bytes"_s, 1, QByteArray(), "\"no bytes\"=hex(1):"},
            {u"no final NUL"_s, 1, "ab", "\"no final NUL\"=hex(1):61,62"},
            {u"NUL inside"_s, 1, QByteArray("a\0b", 4), "\"NUL inside\"=hex(1):61,00,62,00"},
            {u"line break"_s, 1, QByteArray("a\r\nb", 5), "\"line break\"=hex(1):61,0d,0a,62,00"},
            {u"say \"hi\" \\"_s, 1, "C:\\\"x\"\\",
             "\"say \\\"hi\\\" \\\\\"=hex(1):43,3a,5c,22,78,22,5c"},
            {u"Grüße"_s, 1, u"Grüße"_s.toLocal8Bit() + '\0', "\"Grüße\"=\"Grüße\""},
            {u"no UTF-8"_s, 1, QByteArray("\xff\xfe", 3), "\"no UTF-8\"=hex(1):ff,fe,00"},
            {QString(), 1, QByteArray("a \"b\" c:\\", 10), "@=\"a \\\"b\\\" c:\\\\\""},
            {u"dword"_s, 4, "\x34\x12\0\0"_ba, "\"dword\"=dword:00001234"},
            {u"short dword"_s, 4, "\x01\x02", "\"short dword\"=hex(4):01,02"},
            {u"binary"_s, 3, QByteArray("\xff\0\x01", 3), "\"binary\"=hex:ff,00,01"},
            {u"large type"_s, 0xfedcba98, "a", "\"large type\"=hex(fedcba98):61"}};
        QByteArray lines;
        for (const auto &[name, type, data, line] : values) {
            QCOMPARE(setValue(*store, name.size() % 2 ? u"system\\TCP"_s : u"SYSTEM\\tcp"_s, name,
                              type, data),
                     0);
            lines += line.isNull() ? QByteArray() : line + '\n';
        }
        QCOMPARE(
            fileBytes(storeFile).split('\n'),
            ("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\tcp]\n" +
             lines + '\n')
                .split('\n'));
        FileRegistry reader(storeFile);
        for (const auto &[name, type, data, line] : values)
            QCOMPARE(queryValue(reader, u"System\\Tcp"_s, name.toLower()),
                     std::tuple(0, type, name == u"MaxMTU" ? QByteArray("1500", 5) : data));
        // A key is made once, with its parents, and opened after.
        RegistryKey key;
        std::uint32_t disposition = 0;
        for (const uint expected :
             {Registry::REG_CREATED_NEW_KEY, Registry::REG_OPENED_EXISTING_KEY}) {
            QCOMPARE(reader.RegCreateKeyExA(HKLM, u"a\\b"_s, 0, writing, key, disposition), 0);
            QCOMPARE(disposition, expected);
        }
        QCOMPARE(openKey(reader, u"A"_s), 0);
        QCOMPARE(openKey(reader, u"System\\Other"_s), 2);
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

    // A hive by its short name in any case, else an existing normal file.
    void hiveNamesAndFiles()
    {
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        QVERIFY(writeWholeFile(ini, {}) && writeWholeFile(dir->filePath(u".hidden.ini"_s), "x"));
        QCOMPARE(mkfifo(QFile::encodeName(dir->filePath(u"pipe"_s)).constData(), 0600), 0);
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
            {dir->filePath(u".hidden.ini"_s), 0},
            {dir->filePath(u"pipe"_s), 0},
            {dir->filePath(u"missing.ini"_s), 0},
            {dir->path(), 0}};
        for (const auto &[name, root] : names)
            QVERIFY2(modRegistry::ResolveRoot(*store, name) == root, qPrintable(name));
    }

    // A file for a hive: sections and entries in any case, text or a number
    // read; only text written, every other line kept, and a line that would
    // not read back as that section and entry refused.
    void aFileStandsInForAHive()
    {
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        QVERIFY(writeWholeFile(ini, "; keep me\r\n[Options]\r\n  Name  =  Old  \r\nQuoted=\"  "
                                    "padded  \"\r\n;Gone=1\r\nNumber=  -42abc\r\nLong=" +
                                        QByteArray(300, 'x') + "\r\n[Next]\r\n\xe9t\xe9=1\r\n"));
        // The entry, the letter, what it reads ("default" and 5 being the defaults given).
        const std::tuple<QString, QString, Datum> reads[] = {
            {u"NAME"_s, u"S"_s, u"Old"_s},
            {u"Name"_s, u"D"_s, 0},
            {u"Quoted"_s, u"S"_s, u"  padded  "_s},
            {u"Gone"_s, u"S"_s, u"default"_s},
            {u"Number"_s, u"S"_s, u"-42abc"_s},
            {u"Number"_s, u"D"_s, -42},
            {u"Missing"_s, u"D"_s, 0},
            {u"Long"_s, u"S"_s, QString(254, u'x')}};
        for (const auto &[entry, letter, expected] : reads) {
            Datum result;
            QCOMPARE(modRegistry::ReadValue(*store, ini, u"options"_s, entry, letter,
                                            letter == u"S" ? Datum(u"default"_s) : Datum(5),
                                            result),
                     modRegistry::Done);
            QVERIFY2(shown(result) == shown(expected), qPrintable(entry + u": "_s + shown(result)));
        }
        const std::tuple<QString, QString, QString, Datum> writes[] = {
            {u"OPTIONS"_s, u"name"_s, u"S"_s, u"New"_s},
            {u"Options"_s, u"Added"_s, u"S"_s, true},
            {u"Options"_s, u"Quoted"_s, u"D"_s, 2},
            {u"Fresh"_s, u"Key"_s, u"S"_s, u"v"_s},
            {u"Options]Next"_s, u"Name"_s, u"S"_s, u"x"_s},
            {u"Options"_s, u"Gone=2;Name"_s, u"S"_s, u"x"_s},
            {u"Options"_s, u";Name"_s, u"S"_s, u"x"_s},
            {u"Options"_s, u"Name"_s, u"S"_s, u"x\n[Next]\nName=y"_s}};
        for (const auto &[section, entry, letter, value] : writes)
            QCOMPARE(modRegistry::WriteValue(*store, ini, section, entry, letter, value),
                     letter == u"S" ? modRegistry::Done : modRegistry::NotDone);
        QCOMPARE(fileBytes(ini), "; keep me\r\n[Options]\r\nname=New\r\nQuoted=\"  padded  \"\r\n"
                                 ";Gone=1\r\nNumber=  -42abc\r\nLong=" +
                                     QByteArray(300, 'x') +
                                     "\r\nAdded=True\r\n[Next]\r\n"
                                     "\xe9t\xe9=1\r\n[Fresh]\r\nKey=v\r\n");
        QVERIFY(!QFile::exists(store->fileName()));
    }

    void reads()
    {
        const Datum notSet = u"Not Set"_s;
        // The letter, the type and bytes stored (type 0: no value), the status and the result.
        const std::tuple<QString, std::uint32_t, QByteArray, int, Datum> reads[] = {
            {u"S"_s, 1, QByteArray("576 ", 5), 0, u"576 "_s},
            {u"S"_s, 1, QByteArray(), 0, notSet},
            {u"S"_s, 0, QByteArray(), 2, notSet},
            {u"B"_s, 3, QByteArray("\xff\xff", 2), 0, true},
            {u"B"_s, 3, QByteArray("\0\x01", 2), 0, true},
            {u"B"_s, 3, QByteArray(3, '\0'), 234, notSet},
            {u"D"_s, 4, QByteArray(4, '\xff'), 0, -1},
            {u"D"_s, 4, QByteArray(5, '\x01'), 234, notSet},
            {u"X"_s, 4, QByteArray("\x01"), 0, notSet}};
        Datum result;
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
        const std::tuple<QString, Datum, int, std::uint32_t, QByteArray> writes[] = {
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
