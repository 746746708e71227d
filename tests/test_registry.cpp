// The registry store file and the initialisation files, through the system's
// calls and status codes.

#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <sys/stat.h>
#include <thread>

using namespace Qt::StringLiterals;

namespace
{

using Status = Registry::Status;
using Call = std::function<Status(Registry &)>;
constexpr auto HKLM = Registry::HKEY_LOCAL_MACHINE;
constexpr std::uint32_t readAccess = Registry::KEY_QUERY_VALUE;
constexpr std::uint32_t writeAccess = Registry::KEY_SET_VALUE | Registry::KEY_CREATE_SUB_KEY;

QByteArray bytesOf(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &fileName, const QByteArray &contents)
{
    QFile file(fileName);
    return QDir().mkpath(QFileInfo(fileName).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(contents) == contents.size();
}

Status create(Registry &registry, const QString &subKey, RegistryKey &key,
              std::uint32_t options = 0, Registry::Hkey root = HKLM)
{
    std::uint32_t disposition = 0;
    return registry.RegCreateKeyExA(root, subKey, options, writeAccess, key, disposition);
}

Status setValue(Registry &registry, const QString &subKey, const QString &name, std::uint32_t type,
                const QByteArray &data)
{
    RegistryKey key;
    Status status = create(registry, subKey, key);
    if (status == Registry::ERROR_SUCCESS)
        status = registry.RegSetValueExA(key, name, type, data);
    registry.RegCloseKey(key);
    return status;
}

struct Stored {
    Status status = Registry::ERROR_SUCCESS;
    std::uint32_t type = 0;
    QByteArray data;
    bool operator==(const Stored &) const = default;
};

// Asks for the size first, then reads into a buffer of exactly that size.
Stored queryValue(Registry &registry, const QString &subKey, const QString &name)
{
    Stored stored;
    RegistryKey key;
    stored.status = registry.RegOpenKeyExA(HKLM, subKey, 0, readAccess, key);
    std::uint32_t size = 0;
    if (stored.status == Registry::ERROR_SUCCESS)
        stored.status = registry.RegQueryValueExA(key, name, stored.type, {}, size);
    if (stored.status == Registry::ERROR_MORE_DATA) {
        stored.data.resize(size);
        stored.status = registry.RegQueryValueExA(key, name, stored.type,
                                                  std::span(stored.data.data(), size), size);
    }
    return stored;
}

Status openKey(Registry &registry, const QString &subKey, Registry::Hkey root = HKLM)
{
    RegistryKey key;
    return registry.RegOpenKeyExA(root, subKey, 0, readAccess, key);
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

    void statuses_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("status");
        const auto withKey = [](std::uint32_t access, auto use) {
            return [access, use](Registry &registry) {
                RegistryKey key;
                const Status opened = registry.RegOpenKeyExA(HKLM, u"A"_s, 0, access, key);
                return opened == Registry::ERROR_SUCCESS ? use(registry, key) : opened;
            };
        };
        const auto query = [](Registry &registry, RegistryKey &key) {
            std::uint32_t type = 0, size = 0;
            return registry.RegQueryValueExA(key, u"x"_s, type, {}, size);
        };
        const auto set = [](const QString &name) {
            return [name](Registry &registry, RegistryKey &key) {
                return registry.RegSetValueExA(key, name, Registry::REG_SZ, "1");
            };
        };
        const auto closed = [](auto use) {
            return [use](Registry &registry) {
                RegistryKey key;
                return use(registry, key);
            };
        };
        QTest::newRow("query, closed key") << Call(closed(query)) << 6;
        QTest::newRow("set, closed key") << Call(closed(set(u"x"_s))) << 6;
        QTest::newRow("close, closed key")
            << Call(closed([](Registry &r, RegistryKey &key) { return r.RegCloseKey(key); })) << 6;
        for (const Registry::Hkey notARoot : {0x80000004u, 0x80000007u, 0u})
            QTest::addRow("create under %x", notARoot) << Call([notARoot](Registry &registry) {
                RegistryKey key;
                return create(registry, u"A"_s, key, 0, notARoot);
            }) << 6;
        QTest::newRow("create, options 1") << Call([](Registry &registry) {
            RegistryKey key;
            return create(registry, u"B"_s, key, 1);
        }) << 87;
        QTest::newRow("create, line break") << Call([](Registry &registry) {
            RegistryKey key;
            return create(registry, u"B\nC"_s, key);
        }) << 87;
        QTest::newRow("open, options 1") << Call([](Registry &registry) {
            RegistryKey key;
            return registry.RegOpenKeyExA(HKLM, u"A"_s, 1, readAccess, key);
        }) << 87;
        QTest::newRow("query, key for writing") << Call(withKey(writeAccess, query)) << 5;
        QTest::newRow("set, key for reading") << Call(withKey(readAccess, set(u"x"_s))) << 5;
        QTest::newRow("set, name with a line break")
            << Call(withKey(writeAccess, set(u"two\nlines"_s))) << 87;
        QTest::newRow("query, missing value") << Call(withKey(readAccess, query)) << 2;
        QTest::newRow("open, missing key")
            << Call([](Registry &r) { return openKey(r, u"B"_s); }) << 2;
        QTest::newRow("open, other root")
            << Call([](Registry &r) { return openKey(r, u"A"_s, Registry::HKEY_USERS); }) << 2;
        QTest::newRow("open, root alone") << Call([](Registry &r) { return openKey(r, {}); }) << 0;
    }

    void statuses()
    {
        QFETCH(Call, call);
        QFETCH(int, status);
        QCOMPARE(setValue(*store, u"A"_s, u"other"_s, Registry::REG_SZ, "1"), 0);
        QCOMPARE(call(*store), status);
    }

    void keysAreCreatedWithTheirParentsAndMatchInAnyCase()
    {
        RegistryKey key;
        std::uint32_t disposition = 0;
        const QString path = u"Software\\Quorrel\\Deep"_s;
        for (const uint expected :
             {Registry::REG_CREATED_NEW_KEY, Registry::REG_OPENED_EXISTING_KEY}) {
            QCOMPARE(store->RegCreateKeyExA(HKLM, path, 0, writeAccess, key, disposition), 0);
            QCOMPARE(disposition, expected);
        }
        QCOMPARE(openKey(*store, u"SOFTWARE\\quorrel"_s), 0);
        QCOMPARE(openKey(*store, u"Software\\Other"_s), 2);
        QCOMPARE(setValue(*store, u"software\\QUORREL"_s, u"MaxMTU"_s, 1, QByteArray("576", 4)), 0);
        QCOMPARE(setValue(*store, u"Software\\Quorrel"_s, u"MAXMTU"_s, 1, QByteArray("1500", 5)),
                 0);
        QCOMPARE(queryValue(*store, u"software\\quorrel"_s, u"maxmtu"_s).data,
                 QByteArray("1500", 5));
        // One key and one value each, spelled as they were first created.
        QCOMPARE(bytesOf(storeFile),
                 QByteArray("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Quorrel]\n"
                            "\"MaxMTU\"=\"1500\"\n\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Quorrel\\Deep]\n\n"));
    }

    void valuesComeBackExactly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("data");
        const uint sz = Registry::REG_SZ;
        QTest::newRow("text") << u"MaxMTU"_s << sz << QByteArray("576", 4);
        QTest::newRow("only the NUL") << u"e"_s << sz << QByteArray(1, '\0');
        QTest::newRow("no bytes") << u"n"_s << sz << QByteArray();
        QTest::newRow("no final NUL") << u"t"_s << sz << QByteArray("abc");
        QTest::newRow("NUL inside") << u"t"_s << sz << QByteArray("a\0b", 4);
        QTest::newRow("line break") << u"t"_s << sz << QByteArray("a\r\nb", 5);
        QTest::newRow("quotes, backslashes")
            << u"say \"hi\" \\"_s << sz << QByteArray("C:\\\"x\"\\", 8);
        QTest::newRow("accents") << u"Grüße"_s << sz << u"Grüße"_s.toLocal8Bit().append('\0');
        QTest::newRow("no UTF-8") << u"t"_s << sz << QByteArray("\xff\xfe", 3);
        QTest::newRow("default value") << QString() << sz << QByteArray("d", 2);
        QTest::newRow("dword") << u"d"_s << uint(Registry::REG_DWORD)
                               << QByteArray("\x78\x56\x34\x12", 4);
        QTest::newRow("short dword")
            << u"d"_s << uint(Registry::REG_DWORD) << QByteArray("\x01\x02", 2);
        QTest::newRow("binary") << u"b"_s << uint(Registry::REG_BINARY) << QByteArray("\xff\0", 2);
        QTest::newRow("large type") << u"x"_s << 0xfedcba98u << QByteArray("a\0b\0", 5);
    }

    void valuesComeBackExactly()
    {
        QFETCH(QString, name);
        QFETCH(uint, type);
        QFETCH(QByteArray, data);
        QCOMPARE(setValue(*store, u"K"_s, name, type, data), 0);
        QCOMPARE(setValue(*store, u"K"_s, u"next"_s, Registry::REG_SZ, QByteArray("1", 2)), 0);
        FileRegistry reader(storeFile);
        QCOMPARE(queryValue(reader, u"K"_s, name), (Stored{0, type, data}));
        QCOMPARE(queryValue(reader, u"K"_s, u"next"_s).data, QByteArray("1", 2));
    }

    void theFileIsAReadableExport()
    {
        const QString key = u"System\\Tcp"_s;
        setValue(*store, key, u"Flags"_s, Registry::REG_DWORD, QByteArray("\x34\x12\0\0", 4));
        setValue(*store, key, u"Raw"_s, Registry::REG_BINARY, QByteArray("\xff\x00\x01", 3));
        setValue(*store, key, u"Odd"_s, Registry::REG_SZ, "ab");
        setValue(*store, key, QString(), Registry::REG_SZ, QByteArray("a \"b\" c:\\", 10));
        QCOMPARE(bytesOf(storeFile), QByteArray("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System]\n\n"
                                                "[HKEY_LOCAL_MACHINE\\System\\Tcp]\n"
                                                "\"Flags\"=dword:00001234\n"
                                                "\"Raw\"=hex:ff,00,01\n"
                                                "\"Odd\"=hex(1):61,62\n"
                                                "@=\"a \\\"b\\\" c:\\\\\"\n\n"));
        // A file written by hand, as other tools write it.
        QVERIFY(writeFile(storeFile, "\xef\xbb\xbfREGEDIT4\r\n; by hand\r\n\r\n"
                                     "[hkey_local_machine\\System\\Net]\r\n@=\"default\"\r\n"
                                     "\"All\"=dword:FFFFFFFF\r\n\"Spaced\"=hex: 01, 02 ,03\r\n"
                                     "\"Expand\"=hex(2):25,00\r\n"));
        QCOMPARE(queryValue(*store, u"System\\Net"_s, {}).data, QByteArray("default", 8));
        QCOMPARE(queryValue(*store, u"System\\Net"_s, u"All"_s).data, QByteArray(4, '\xff'));
        QCOMPARE(queryValue(*store, u"System\\Net"_s, u"Spaced"_s).data, QByteArray("\1\2\3"));
        QCOMPARE(queryValue(*store, u"System\\Net"_s, u"Expand"_s),
                 (Stored{0, 2, QByteArray("%\0", 2)}));
    }

    void aDamagedFileReadsEmptyAndIsKept_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System]\n\"Kept\"=\"1\"\n";
        QTest::newRow("no header") << QByteArray("[HKEY_LOCAL_MACHINE\\System]\n\"Kept\"=\"1\"\n");
        QTest::newRow("unknown root key") << head + "[HKEY_NOWHERE\\Key]";
        QTest::newRow("empty key part") << head + "[HKEY_LOCAL_MACHINE\\A\\\\B]";
        QTest::newRow("deleting a key") << head + "[-HKEY_LOCAL_MACHINE\\System]";
        QTest::newRow("deleting a value") << head + "\"Kept\"=-";
        QTest::newRow("unknown escape") << head + "\"a\"=\"\\n\"";
        QTest::newRow("open quote") << head + "\"a\"=\"576";
        QTest::newRow("text after the quote") << head + "\"a\"=\"576\" x";
        QTest::newRow("bad hex") << head + "\"a\"=hex:0g";
        QTest::newRow("nine-digit dword") << head + "\"a\"=dword:123456789";
        QTest::newRow("no UTF-8") << head + "\"a\"=\"\xff\"";
        QTest::newRow("plain words") << head + "just some words";
    }

    void aDamagedFileReadsEmptyAndIsKept()
    {
        QFETCH(QByteArray, file);
        QVERIFY(writeFile(storeFile, file));
        QCOMPARE(openKey(*store, u"System"_s), 2);
        RegistryKey key;
        QCOMPARE(create(*store, u"System"_s, key), Registry::ERROR_BADDB);
        QVERIFY(!key.isOpen());
        QCOMPARE(bytesOf(storeFile), file);
        // An empty file has nothing to lose.
        QVERIFY(writeFile(storeFile, {}));
        QCOMPARE(create(*store, u"System"_s, key), 0);
    }

    void aStoreThatCannotBeWrittenIsKept()
    {
        QCOMPARE(setValue(*store, u"K"_s, u"a"_s, Registry::REG_SZ, QByteArray("1", 2)), 0);
        RegistryKey openForWriting;
        QCOMPARE(create(*store, u"K"_s, openForWriting), 0);
        QVERIFY(QFile::setPermissions(storeFile, QFileDevice::ReadOwner | QFileDevice::ReadOther));
        const QByteArray before = bytesOf(storeFile);
        QCOMPARE(store->RegSetValueExA(openForWriting, u"a"_s, Registry::REG_SZ, "2"), 5);
        RegistryKey key;
        QCOMPARE(create(*store, u"New"_s, key), 5);
        QCOMPARE(bytesOf(storeFile), before);
        QVERIFY(Registry::describe(5).contains(u"read-only"));
        // A plain file where the store's folder should be: nothing can be saved there.
        QVERIFY(writeFile(dir->filePath(u"blocker"_s), "not a folder"));
        FileRegistry unsavable(dir->filePath(u"blocker/registry.reg"_s));
        QCOMPARE(setValue(unsavable, u"K"_s, u"a"_s, Registry::REG_SZ, "1"), 1016);
    }

    void twoWritersKeepEachOthersValues()
    {
        const auto name = [](char tag, int i) { return QByteArray(1, tag) + char('0' + i); };
        const auto writer = [&](char tag) {
            FileRegistry own(storeFile);
            for (int i = 0; i < 8; ++i)
                setValue(own, u"Shared"_s, QString::fromLatin1(name(tag, i)), 1, name(tag, i));
        };
        std::thread first(writer, 'a');
        std::thread second(writer, 'b');
        first.join();
        second.join();
        for (const char tag : {'a', 'b'}) {
            for (int i = 0; i < 8; ++i)
                QCOMPARE(queryValue(*store, u"Shared"_s, QString::fromLatin1(name(tag, i))).data,
                         name(tag, i));
        }
        QVERIFY(!QFile::exists(storeFile + u".lock"_s));
    }

    void profileReads_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number"); // the default is 5
        QTest::newRow("blanks around") << u"options"_s << u"NAME"_s << 255 << u"Quorrel"_s << 0;
        QTest::newRow("quoted") << u"Options"_s << u"Quoted"_s << 255 << u"  padded  "_s << 0;
        QTest::newRow("empty") << u"Options"_s << u"Empty"_s << 255 << QString() << 0;
        QTest::newRow("leading number") << u"Options"_s << u"Number"_s << 255 << u"42abc"_s << 42;
        QTest::newRow("negative") << u"Options"_s << u"Negative"_s << 255 << u"-7"_s << -7;
        QTest::newRow("other section") << u"Other"_s << u"Name"_s << 255 << u"Other"_s << 0;
        QTest::newRow("missing") << u"Options"_s << u"Missing"_s << 255 << u"default"_s << 5;
        QTest::newRow("commented out") << u"Options"_s << u";Gone"_s << 255 << u"default"_s << 5;
        QTest::newRow("no section") << u"Nowhere"_s << u"Name"_s << 255 << u"default"_s << 5;
        QTest::newRow("long") << u"Options"_s << u"Long"_s << 255 << QString(254, u'x') << 0;
        QTest::newRow("small buffer") << u"Options"_s << u"Missing"_s << 4 << u"def"_s << 5;
    }

    void profileReads()
    {
        QFETCH(QString, section);
        QFETCH(QString, entry);
        QFETCH(int, size);
        QFETCH(QString, text);
        QFETCH(int, number);
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        QVERIFY(writeFile(ini, "[Options]\n  Name  =  Quorrel  \nQuoted=\"  padded  \"\nEmpty=\n"
                               ";Gone=1\nNumber=  42abc\nNegative=-7\nLong=" +
                                   QByteArray(300, 'x') + "\n[Other]\nName=Other\n"));
        QString read;
        QCOMPARE(store->GetPrivateProfileStringA(section, entry, u"default"_s, read, size, ini),
                 text.size());
        QCOMPARE(read, text);
        QCOMPARE(store->GetPrivateProfileIntA(section, entry, 5, ini), number);
    }

    void profileWritesKeepEveryOtherLine()
    {
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        QVERIFY(writeFile(ini, "; keep me\r\n[Options]\r\nName=Old\r\nOther=1\r\n\r\n"
                               "[Next]\r\n\xe9t\xe9=not UTF-8\r\n"));
        QVERIFY(store->WritePrivateProfileStringA(u"OPTIONS"_s, u"name"_s, u"New"_s, ini));
        QVERIFY(store->WritePrivateProfileStringA(u"Options"_s, u"Added"_s, u"2"_s, ini));
        QVERIFY(store->WritePrivateProfileStringA(u"Fresh"_s, u"Key"_s, u"v"_s, ini));
        QCOMPARE(bytesOf(ini), QByteArray("; keep me\r\n[Options]\r\nname=New\r\nOther=1\r\n"
                                          "Added=2\r\n\r\n[Next]\r\n\xe9t\xe9=not UTF-8\r\n"
                                          "[Fresh]\r\nKey=v\r\n"));
        const QString created = dir->filePath(u"new.ini"_s);
        QVERIFY(store->WritePrivateProfileStringA(u"S"_s, u"K"_s, u"v"_s, created));
        QCOMPARE(bytesOf(created), QByteArray("[S]\nK=v\n"));
    }

    void profileWritesThatWouldNotReadBackAreRefused_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("text");
        QTest::newRow("bracket in the section") << u"Options]Other"_s << u"Name"_s << u"x"_s;
        QTest::newRow("line break in the section") << u"New\n[Options"_s << u"Name"_s << u"x"_s;
        QTest::newRow("blanks around the section") << u" Options "_s << u"Name"_s << u"x"_s;
        QTest::newRow("equals sign in the entry") << u"Options"_s << u"Other=2;Name"_s << u"x"_s;
        QTest::newRow("entry as a section") << u"Options"_s << u"[Other]"_s << u"x"_s;
        QTest::newRow("entry as a comment") << u"Options"_s << u";Name"_s << u"x"_s;
        QTest::newRow("line break in the text")
            << u"Options"_s << u"Name"_s << u"x\n[Other]\nName=y"_s;
    }

    void profileWritesThatWouldNotReadBackAreRefused()
    {
        QFETCH(QString, section);
        QFETCH(QString, entry);
        QFETCH(QString, text);
        const QString ini = dir->filePath(u"quorrel.ini"_s);
        const QByteArray before = "[Options]\nName=Old\nOther=1\n[Other]\nName=Kept\n";
        QVERIFY(writeFile(ini, before));
        QVERIFY(!store->WritePrivateProfileStringA(section, entry, text, ini));
        QCOMPARE(bytesOf(ini), before);
    }

    void findFileFindsNormalFilesOnly()
    {
        QVERIFY(writeFile(dir->filePath(u"normal.ini"_s), "x"));
        QVERIFY(writeFile(dir->filePath(u".hidden.ini"_s), "x"));
        QCOMPARE(mkfifo(QFile::encodeName(dir->filePath(u"pipe"_s)).constData(), 0600), 0);
        QCOMPARE(store->findFile(dir->filePath(u"normal.ini"_s)), u"normal.ini"_s);
        for (const QString &name : {u".hidden.ini"_s, u"pipe"_s, QString(), u"missing.ini"_s})
            QCOMPARE(store->findFile(name.isEmpty() ? dir->path() : dir->filePath(name)),
                     QString());
        QCOMPARE(store->findFile(QString()), QString());
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString storeFile;
    std::unique_ptr<FileRegistry> store;
};

QTEST_GUILESS_MAIN(RegistryTest)
#include "test_registry.moc"
