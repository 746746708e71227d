// The registry stand-in and the initialisation files behind it.

#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <sys/stat.h>
#include <thread>

namespace
{

using Status = Registry::Status;
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
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

bool makeReadOnly(const QString &fileName)
{
    return QFile::setPermissions(fileName, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                               QFileDevice::ReadOther);
}

Status setValue(Registry &registry, const QString &subKey, const QString &name, std::uint32_t type,
                const QByteArray &data)
{
    RegistryKey key;
    std::uint32_t disposition = 0;
    Status status = registry.RegCreateKeyExA(HKLM, subKey, 0, writeAccess, key, disposition);
    if (status == Registry::ERROR_SUCCESS)
        status = registry.RegSetValueExA(key, name, type, data);
    registry.RegCloseKey(key);
    return status;
}

struct Stored {
    Status status = Registry::ERROR_SUCCESS;
    std::uint32_t type = 0;
    QByteArray data;
};

Stored queryValue(Registry &registry, const QString &subKey, const QString &name)
{
    Stored stored;
    RegistryKey key;
    stored.status = registry.RegOpenKeyExA(HKLM, subKey, 0, readAccess, key);
    if (stored.status != Registry::ERROR_SUCCESS)
        return stored;
    std::uint32_t size = 0;
    stored.status = registry.RegQueryValueExA(key, name, stored.type, {}, size);
    if (stored.status == Registry::ERROR_MORE_DATA) {
        stored.data.resize(size);
        stored.status = registry.RegQueryValueExA(
            key, name, stored.type,
            std::span(stored.data.data(), static_cast<std::size_t>(stored.data.size())), size);
    }
    registry.RegCloseKey(key);
    return stored;
}

Status openKey(Registry &registry, const QString &subKey)
{
    RegistryKey key;
    return registry.RegOpenKeyExA(HKLM, subKey, 0, readAccess, key);
}

} // namespace

class RegistryTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        storeFile = dir->filePath(QStringLiteral("data/registry.reg"));
        store = std::make_unique<FileRegistry>(storeFile);
    }
    void cleanup()
    {
        store.reset();
        dir.reset();
    }

    void handlesAndStatuses()
    {
        RegistryKey key;
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        QCOMPARE(store->RegQueryValueExA(key, QStringLiteral("x"), type, {}, size),
                 Registry::ERROR_INVALID_HANDLE);
        QCOMPARE(store->RegSetValueExA(key, QStringLiteral("x"), Registry::REG_SZ, "1"),
                 Registry::ERROR_INVALID_HANDLE);
        QCOMPARE(store->RegCloseKey(key), Registry::ERROR_INVALID_HANDLE);

        std::uint32_t disposition = 0;
        for (Registry::Hkey notARoot : {0x80000004u, 0x80000007u, 0u})
            QCOMPARE(store->RegCreateKeyExA(notARoot, QStringLiteral("A"), 0, writeAccess, key,
                                            disposition),
                     Registry::ERROR_INVALID_HANDLE);
        QCOMPARE(
            store->RegCreateKeyExA(HKLM, QStringLiteral("A"), 1, writeAccess, key, disposition),
            Registry::ERROR_INVALID_PARAMETER);

        QCOMPARE(
            store->RegCreateKeyExA(HKLM, QStringLiteral("A"), 0, writeAccess, key, disposition),
            Registry::ERROR_SUCCESS);
        // Opened for writing only: no reading through it.
        QCOMPARE(store->RegQueryValueExA(key, QStringLiteral("x"), type, {}, size),
                 Registry::ERROR_ACCESS_DENIED);
        // A name that would break its line of the file is refused.
        QCOMPARE(store->RegSetValueExA(key, QStringLiteral("two\nlines"), Registry::REG_SZ, "1"),
                 Registry::ERROR_INVALID_PARAMETER);
        QCOMPARE(store->RegCloseKey(key), Registry::ERROR_SUCCESS);
        QCOMPARE(store->RegCloseKey(key), Registry::ERROR_INVALID_HANDLE);

        QCOMPARE(store->RegOpenKeyExA(HKLM, QStringLiteral("A"), 0, readAccess, key),
                 Registry::ERROR_SUCCESS);
        QCOMPARE(store->RegSetValueExA(key, QStringLiteral("x"), Registry::REG_SZ, "1"),
                 Registry::ERROR_ACCESS_DENIED);
        QCOMPARE(store->RegQueryValueExA(key, QStringLiteral("missing"), type, {}, size),
                 Registry::ERROR_FILE_NOT_FOUND);

        QCOMPARE(store->RegOpenKeyExA(HKLM, QStringLiteral("B"), 0, readAccess, key),
                 Registry::ERROR_FILE_NOT_FOUND);
        QVERIFY(!key.isOpen());
        // A root key itself always opens.
        QCOMPARE(openKey(*store, QString()), Registry::ERROR_SUCCESS);
    }

    void createMakesMissingParents()
    {
        RegistryKey key;
        std::uint32_t disposition = 0;
        const QString path = QStringLiteral("Software\\Quorrel\\Deep\\Key");
        QCOMPARE(store->RegCreateKeyExA(HKLM, path, 0, writeAccess, key, disposition),
                 Registry::ERROR_SUCCESS);
        QCOMPARE(disposition, Registry::REG_CREATED_NEW_KEY);
        for (const QString &parent :
             {QStringLiteral("Software"), QStringLiteral("Software\\Quorrel"),
              QStringLiteral("Software\\Quorrel\\Deep"), path})
            QCOMPARE(openKey(*store, parent), Registry::ERROR_SUCCESS);
        QCOMPARE(store->RegCreateKeyExA(HKLM, path, 0, writeAccess, key, disposition),
                 Registry::ERROR_SUCCESS);
        QCOMPARE(disposition, Registry::REG_OPENED_EXISTING_KEY);
        QCOMPARE(openKey(*store, QStringLiteral("Software\\Other")),
                 Registry::ERROR_FILE_NOT_FOUND);
        // Only under the root it was created in.
        QCOMPARE(store->RegOpenKeyExA(Registry::HKEY_CURRENT_USER, QStringLiteral("Software"), 0,
                                      readAccess, key),
                 Registry::ERROR_FILE_NOT_FOUND);
    }

    void namesMatchWithoutRegardToCase()
    {
        QCOMPARE(setValue(*store, QStringLiteral("Software\\Quorrel"), QStringLiteral("MaxMTU"),
                          Registry::REG_SZ, QByteArray("576", 4)),
                 Registry::ERROR_SUCCESS);
        QCOMPARE(
            queryValue(*store, QStringLiteral("SOFTWARE\\quorrel"), QStringLiteral("maxmtu")).data,
            QByteArray("576", 4));

        QCOMPARE(setValue(*store, QStringLiteral("software\\QUORREL\\Sub"), QStringLiteral("x"),
                          Registry::REG_SZ, QByteArray("1", 2)),
                 Registry::ERROR_SUCCESS);
        QCOMPARE(setValue(*store, QStringLiteral("software\\QUORREL"), QStringLiteral("MAXMTU"),
                          Registry::REG_SZ, QByteArray("1500", 5)),
                 Registry::ERROR_SUCCESS);
        QCOMPARE(
            queryValue(*store, QStringLiteral("Software\\Quorrel"), QStringLiteral("MaxMTU")).data,
            QByteArray("1500", 5));
        // One value and one key each, spelled as they were first created.
        const QByteArray file = bytesOf(storeFile);
        QCOMPARE(file.count("MaxMTU"), 1);
        QVERIFY(!file.contains("MAXMTU"));
        QVERIFY(file.contains("[HKEY_LOCAL_MACHINE\\Software\\Quorrel\\Sub]"));
        QCOMPARE(file.count("[HKEY_LOCAL_MACHINE\\Software\\Quorrel]"), 1);
    }

    void shortBufferAsksForMore()
    {
        QCOMPARE(setValue(*store, QStringLiteral("K"), QStringLiteral("RWIN"), Registry::REG_SZ,
                          QByteArray("4388", 5)),
                 Registry::ERROR_SUCCESS);
        RegistryKey key;
        QCOMPARE(store->RegOpenKeyExA(HKLM, QStringLiteral("K"), 0, readAccess, key),
                 Registry::ERROR_SUCCESS);
        std::array<char, 8> buffer{};
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        QCOMPARE(store->RegQueryValueExA(key, QStringLiteral("RWIN"), type,
                                         std::span(buffer).first(2), size),
                 Registry::ERROR_MORE_DATA);
        QCOMPARE(size, 5u);
        QCOMPARE(buffer[0], '\0'); // nothing copied
        QCOMPARE(store->RegQueryValueExA(key, QStringLiteral("RWIN"), type, buffer, size),
                 Registry::ERROR_SUCCESS);
        QCOMPARE(size, 5u);
        QCOMPARE(type, Registry::REG_SZ);
        QCOMPARE(QByteArray(buffer.data(), 5), QByteArray("4388", 5));
    }

    void valuesRoundTripExactly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("data");
        const auto sz = Registry::REG_SZ;
        QTest::newRow("text") << QStringLiteral("MaxMTU") << sz << QByteArray("576", 4);
        QTest::newRow("empty text") << QStringLiteral("e") << sz << QByteArray(1, '\0');
        QTest::newRow("text without any bytes") << QStringLiteral("n") << sz << QByteArray();
        QTest::newRow("text without its NUL") << QStringLiteral("t") << sz << QByteArray("abc");
        QTest::newRow("NUL inside") << QStringLiteral("t") << sz << QByteArray("a\0b", 4);
        QTest::newRow("line break") << QStringLiteral("t") << sz << QByteArray("a\r\nb", 5);
        QTest::newRow("trailing blank") << QStringLiteral("t") << sz << QByteArray("576 ", 5);
        QTest::newRow("quotes, backslashes")
            << QStringLiteral("say \"hi\" \\ there") << sz << QByteArray("C:\\\"x\"\\", 8);
        QTest::newRow("accents") << QStringLiteral("Grüße") << sz
                                 << QStringLiteral("Grüße").toLocal8Bit().append('\0');
        QTest::newRow("not UTF-8") << QStringLiteral("t") << sz << QByteArray("\xff\xfe", 3);
        QTest::newRow("default value") << QString() << sz << QByteArray("d", 2);
        QTest::newRow("dword") << QStringLiteral("d") << Registry::REG_DWORD
                               << QByteArray("\x78\x56\x34\x12", 4);
        QTest::newRow("short dword")
            << QStringLiteral("d") << Registry::REG_DWORD << QByteArray("\x01\x02", 2);
        QTest::newRow("binary") << QStringLiteral("b") << Registry::REG_BINARY
                                << QByteArray("\xff\xff", 2);
        QTest::newRow("empty binary")
            << QStringLiteral("b") << Registry::REG_BINARY << QByteArray();
        QTest::newRow("other type") << QStringLiteral("m") << 7u << QByteArray("a\0b\0", 5);
        QTest::newRow("large type") << QStringLiteral("x") << 0xfedcba98u << QByteArray("\x01");
    }

    void valuesRoundTripExactly()
    {
        QFETCH(QString, name);
        QFETCH(uint, type);
        QFETCH(QByteArray, data);
        QCOMPARE(setValue(*store, QStringLiteral("K"), name, type, data), Registry::ERROR_SUCCESS);
        QCOMPARE(setValue(*store, QStringLiteral("K"), QStringLiteral("next"), Registry::REG_SZ,
                          QByteArray("1", 2)),
                 Registry::ERROR_SUCCESS);

        FileRegistry reader(storeFile);
        const Stored stored = queryValue(reader, QStringLiteral("K"), name);
        QCOMPARE(stored.status, Registry::ERROR_SUCCESS);
        QCOMPARE(stored.type, type);
        QCOMPARE(stored.data, data);
        // The value did not disturb the one after it.
        QCOMPARE(queryValue(reader, QStringLiteral("K"), QStringLiteral("next")).data,
                 QByteArray("1", 2));
    }

    void theFileIsAReadableExport()
    {
        const QString key = QStringLiteral("System\\Tcp");
        setValue(*store, key, QStringLiteral("MaxMTU"), Registry::REG_SZ, QByteArray("576", 4));
        setValue(*store, key, QStringLiteral("Flags"), Registry::REG_DWORD,
                 QByteArray("\x34\x12\0\0", 4));
        setValue(*store, key, QStringLiteral("Raw"), Registry::REG_BINARY,
                 QByteArray("\xff\x00\x01", 3));
        setValue(*store, key, QStringLiteral("Odd"), Registry::REG_SZ, "ab");
        setValue(*store, key, QString(), Registry::REG_SZ, QByteArray("a \"b\" c:\\", 10));
        QCOMPARE(bytesOf(storeFile), QByteArray("REGEDIT4\n"
                                                "\n"
                                                "[HKEY_LOCAL_MACHINE\\System]\n"
                                                "\n"
                                                "[HKEY_LOCAL_MACHINE\\System\\Tcp]\n"
                                                "\"MaxMTU\"=\"576\"\n"
                                                "\"Flags\"=dword:00001234\n"
                                                "\"Raw\"=hex:ff,00,01\n"
                                                "\"Odd\"=hex(1):61,62\n"
                                                "@=\"a \\\"b\\\" c:\\\\\"\n"
                                                "\n"));
    }

    void readsAHandWrittenFile()
    {
        QVERIFY(QDir().mkpath(QFileInfo(storeFile).absolutePath()));
        QVERIFY(writeFile(storeFile, "\xef\xbb\xbfREGEDIT4\r\n"
                                     "; written by hand\r\n"
                                     "\r\n"
                                     "[hkey_local_machine\\System\\Net]\r\n"
                                     "@=\"default\"\r\n"
                                     "\"All\"=dword:FFFFFFFF\r\n"
                                     "\"Spaced\"=hex: 01, 02 ,03\r\n"
                                     "\"Expand\"=hex(2):25,00\r\n"));
        QCOMPARE(queryValue(*store, QStringLiteral("System\\Net"), QString()).data,
                 QByteArray("default", 8));
        QCOMPARE(queryValue(*store, QStringLiteral("System\\Net"), QStringLiteral("All")).data,
                 QByteArray("\xff\xff\xff\xff", 4));
        QCOMPARE(queryValue(*store, QStringLiteral("System\\Net"), QStringLiteral("Spaced")).data,
                 QByteArray("\x01\x02\x03", 3));
        const Stored expand =
            queryValue(*store, QStringLiteral("System\\Net"), QStringLiteral("Expand"));
        QCOMPARE(expand.type, 2u);
        QCOMPARE(expand.data, QByteArray("%\0", 2));
        QCOMPARE(openKey(*store, QStringLiteral("System")), Registry::ERROR_SUCCESS);
    }

    void aDamagedFileReadsEmptyAndIsKept_data()
    {
        QTest::addColumn<QByteArray>("badLine");
        QTest::newRow("unknown root key") << QByteArray("[HKEY_NOWHERE\\Key]");
        QTest::newRow("empty key part") << QByteArray("[HKEY_LOCAL_MACHINE\\A\\\\B]");
        QTest::newRow("deleting a key") << QByteArray("[-HKEY_LOCAL_MACHINE\\System]");
        QTest::newRow("deleting a value") << QByteArray("\"Kept\"=-");
        QTest::newRow("unknown escape") << QByteArray("\"a\"=\"\\n\"");
        QTest::newRow("open quote") << QByteArray("\"a\"=\"576");
        QTest::newRow("text after quote") << QByteArray("\"a\"=\"576\" x");
        QTest::newRow("bad hex") << QByteArray("\"a\"=hex:0g");
        QTest::newRow("long dword") << QByteArray("\"a\"=dword:123456789");
        QTest::newRow("not UTF-8") << QByteArray("\"a\"=\"\xff\"");
        QTest::newRow("plain words") << QByteArray("just some words");
    }

    void aDamagedFileReadsEmptyAndIsKept()
    {
        QFETCH(QByteArray, badLine);
        const QByteArray damaged =
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System]\n\"Kept\"=\"1\"\n" + badLine + "\n";
        QVERIFY(QDir().mkpath(QFileInfo(storeFile).absolutePath()));
        QVERIFY(writeFile(storeFile, damaged));

        QCOMPARE(openKey(*store, QStringLiteral("System")), Registry::ERROR_FILE_NOT_FOUND);
        RegistryKey key;
        std::uint32_t disposition = 0;
        QCOMPARE(store->RegCreateKeyExA(HKLM, QStringLiteral("System"), 0, writeAccess, key,
                                        disposition),
                 Registry::ERROR_BADDB);
        QVERIFY(!key.isOpen());
        QCOMPARE(bytesOf(storeFile), damaged);
    }

    void aFileWithoutTheHeaderIsDamaged()
    {
        QVERIFY(QDir().mkpath(QFileInfo(storeFile).absolutePath()));
        QVERIFY(writeFile(storeFile, "[HKEY_LOCAL_MACHINE\\System]\n"));
        QCOMPARE(openKey(*store, QStringLiteral("System")), Registry::ERROR_FILE_NOT_FOUND);
        QCOMPARE(
            setValue(*store, QStringLiteral("System"), QStringLiteral("a"), Registry::REG_SZ, "1"),
            Registry::ERROR_BADDB);
        // An empty file has nothing to lose.
        QVERIFY(writeFile(storeFile, ""));
        QCOMPARE(
            setValue(*store, QStringLiteral("System"), QStringLiteral("a"), Registry::REG_SZ, "1"),
            Registry::ERROR_SUCCESS);
    }

    void aReadOnlyStoreRefusesWrites()
    {
        QCOMPARE(setValue(*store, QStringLiteral("K"), QStringLiteral("a"), Registry::REG_SZ,
                          QByteArray("1", 2)),
                 Registry::ERROR_SUCCESS);
        RegistryKey openForWriting;
        std::uint32_t disposition = 0;
        QCOMPARE(store->RegCreateKeyExA(HKLM, QStringLiteral("K"), 0, writeAccess, openForWriting,
                                        disposition),
                 Registry::ERROR_SUCCESS);
        QVERIFY(makeReadOnly(storeFile));
        const QByteArray before = bytesOf(storeFile);

        QCOMPARE(store->RegSetValueExA(openForWriting, QStringLiteral("a"), Registry::REG_SZ, "2"),
                 Registry::ERROR_ACCESS_DENIED);
        RegistryKey key;
        QCOMPARE(
            store->RegCreateKeyExA(HKLM, QStringLiteral("New"), 0, writeAccess, key, disposition),
            Registry::ERROR_ACCESS_DENIED);
        QCOMPARE(queryValue(*store, QStringLiteral("K"), QStringLiteral("a")).data,
                 QByteArray("1", 2));
        QCOMPARE(bytesOf(storeFile), before);
    }

    void aStoreThatCannotBeSavedFails()
    {
        // A plain file where the store's folder should be: no one can save there.
        const QString blocker = dir->filePath(QStringLiteral("blocker"));
        QVERIFY(writeFile(blocker, "not a folder"));
        FileRegistry unsavable(blocker + QStringLiteral("/registry.reg"));
        QCOMPARE(
            setValue(unsavable, QStringLiteral("K"), QStringLiteral("a"), Registry::REG_SZ, "1"),
            Registry::ERROR_REGISTRY_IO_FAILED);
        QCOMPARE(openKey(unsavable, QStringLiteral("K")), Registry::ERROR_FILE_NOT_FOUND);
    }

    void twoWritersKeepEachOthersValues()
    {
        constexpr int valuesEach = 8;
        const auto writer = [this](QChar tag) {
            FileRegistry own(storeFile);
            for (int i = 0; i < valuesEach; ++i) {
                const QString name = tag + QString::number(i);
                if (setValue(own, QStringLiteral("Shared"), name, Registry::REG_SZ,
                             name.toLatin1().append('\0')) != Registry::ERROR_SUCCESS)
                    return;
            }
        };
        std::thread first(writer, QLatin1Char('a'));
        std::thread second(writer, QLatin1Char('b'));
        first.join();
        second.join();

        FileRegistry reader(storeFile);
        for (const QChar tag : {QLatin1Char('a'), QLatin1Char('b')}) {
            for (int i = 0; i < valuesEach; ++i) {
                const QString name = tag + QString::number(i);
                QCOMPARE(queryValue(reader, QStringLiteral("Shared"), name).data,
                         name.toLatin1().append('\0'));
            }
        }
        QVERIFY(!QFile::exists(storeFile + QStringLiteral(".lock")));
    }

    void profileReads()
    {
        const QString ini = dir->filePath(QStringLiteral("quorrel.ini"));
        QVERIFY(writeFile(ini, "; Name=commented out\n"
                               "[Options]\n"
                               "  Name  =  Quorrel  \n"
                               "Quoted=\"  padded  \"\n"
                               "Empty=\n"
                               "Number=  42abc\n"
                               "Negative=-7\n"
                               "Long=" +
                                   QByteArray(300, 'x') +
                                   "\n"
                                   "[Other]\n"
                                   "Name=Other\n"));
        const auto read = [&](const QString &section, const QString &entry, int size = 255) {
            QString text;
            const int copied = store->GetPrivateProfileStringA(
                section, entry, QStringLiteral("default"), text, size, ini);
            return std::pair(text, copied);
        };
        QCOMPARE(read(QStringLiteral("options"), QStringLiteral("NAME")),
                 std::pair(QStringLiteral("Quorrel"), 7));
        QCOMPARE(read(QStringLiteral("Options"), QStringLiteral("Quoted")).first,
                 QStringLiteral("  padded  "));
        QCOMPARE(read(QStringLiteral("Options"), QStringLiteral("Empty")), std::pair(QString(), 0));
        QCOMPARE(read(QStringLiteral("Other"), QStringLiteral("Name")).first,
                 QStringLiteral("Other"));
        QCOMPARE(read(QStringLiteral("Options"), QStringLiteral("Missing")),
                 std::pair(QStringLiteral("default"), 7));
        QCOMPARE(read(QStringLiteral("Nowhere"), QStringLiteral("Name")).first,
                 QStringLiteral("default"));
        QCOMPARE(read(QStringLiteral("Options"), QStringLiteral("Long")),
                 std::pair(QString(254, QLatin1Char('x')), 254));
        QCOMPARE(read(QStringLiteral("Options"), QStringLiteral("Missing"), 4),
                 std::pair(QStringLiteral("def"), 3));

        const auto number = [&](const QString &entry) {
            return store->GetPrivateProfileIntA(QStringLiteral("Options"), entry, 5, ini);
        };
        QCOMPARE(number(QStringLiteral("Number")), 42);
        QCOMPARE(number(QStringLiteral("Negative")), -7);
        QCOMPARE(number(QStringLiteral("Name")), 0);
        QCOMPARE(number(QStringLiteral("Missing")), 5);

        QString text;
        QCOMPARE(store->GetPrivateProfileStringA(QStringLiteral("Options"), QStringLiteral("Name"),
                                                 QStringLiteral("none"), text, 255,
                                                 dir->filePath(QStringLiteral("absent.ini"))),
                 4);
        QCOMPARE(text, QStringLiteral("none"));
    }

    void profileWritesKeepEveryOtherLine()
    {
        const QString ini = dir->filePath(QStringLiteral("quorrel.ini"));
        QVERIFY(writeFile(ini, "; keep me\r\n"
                               "[Options]\r\n"
                               "Name=Old\r\n"
                               "Other=1\r\n"
                               "\r\n"
                               "[Next]\r\n"
                               "\xe9t\xe9=not UTF-8\r\n"));
        const auto write = [&](const QString &section, const QString &entry, const QString &text) {
            return store->WritePrivateProfileStringA(section, entry, text, ini);
        };
        QVERIFY(write(QStringLiteral("OPTIONS"), QStringLiteral("name"), QStringLiteral("New")));
        QVERIFY(write(QStringLiteral("Options"), QStringLiteral("Added"), QStringLiteral("2")));
        QVERIFY(write(QStringLiteral("Fresh"), QStringLiteral("Key"), QStringLiteral("v")));
        QCOMPARE(bytesOf(ini), QByteArray("; keep me\r\n"
                                          "[Options]\r\n"
                                          "name=New\r\n"
                                          "Other=1\r\n"
                                          "Added=2\r\n"
                                          "\r\n"
                                          "[Next]\r\n"
                                          "\xe9t\xe9=not UTF-8\r\n"
                                          "[Fresh]\r\n"
                                          "Key=v\r\n"));

        const QString created = dir->filePath(QStringLiteral("new.ini"));
        QVERIFY(store->WritePrivateProfileStringA(QStringLiteral("S"), QStringLiteral("K"),
                                                  QStringLiteral("v"), created));
        QCOMPARE(bytesOf(created), QByteArray("[S]\nK=v\n"));
    }

    void profileWritesThatWouldNotReadBackAreRefused_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("text");
        const QString options = QStringLiteral("Options");
        const QString name = QStringLiteral("Name");
        QTest::newRow("bracket in the section")
            << QStringLiteral("Options]Other") << name << QStringLiteral("x");
        QTest::newRow("line break in the section")
            << QStringLiteral("New\n[Options") << name << QStringLiteral("x");
        QTest::newRow("blanks around the section")
            << QStringLiteral(" Options ") << name << QStringLiteral("x");
        QTest::newRow("equals sign in the entry")
            << options << QStringLiteral("Other=2;Name") << QStringLiteral("x");
        QTest::newRow("entry that reads as a section")
            << options << QStringLiteral("[Other]") << QStringLiteral("x");
        QTest::newRow("entry that reads as a comment")
            << options << QStringLiteral(";Name") << QStringLiteral("x");
        QTest::newRow("line break in the text")
            << options << name << QStringLiteral("x\n[Other]\nName=y");
    }

    void profileWritesThatWouldNotReadBackAreRefused()
    {
        QFETCH(QString, section);
        QFETCH(QString, entry);
        QFETCH(QString, text);
        const QString ini = dir->filePath(QStringLiteral("quorrel.ini"));
        const QByteArray before = "[Options]\nName=Old\nOther=1\n[Other]\nName=Kept\n";
        QVERIFY(writeFile(ini, before));
        QVERIFY(!store->WritePrivateProfileStringA(section, entry, text, ini));
        QCOMPARE(bytesOf(ini), before);
    }

    void findFileFindsNormalFilesOnly()
    {
        const QString normal = dir->filePath(QStringLiteral("normal.ini"));
        const QString hidden = dir->filePath(QStringLiteral(".hidden.ini"));
        const QString pipe = dir->filePath(QStringLiteral("pipe"));
        QVERIFY(writeFile(normal, "x"));
        QVERIFY(writeFile(hidden, "x"));
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);

        QCOMPARE(store->findFile(normal), QStringLiteral("normal.ini"));
        QCOMPARE(store->findFile(hidden), QString());
        QCOMPARE(store->findFile(pipe), QString());
        QCOMPARE(store->findFile(dir->path()), QString());
        QCOMPARE(store->findFile(dir->filePath(QStringLiteral("missing.ini"))), QString());
        QCOMPARE(store->findFile(QString()), QString());
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString storeFile;
    std::unique_ptr<FileRegistry> store;
};

QTEST_GUILESS_MAIN(RegistryTest)
#include "test_registry.moc"
