// Store files broken in the ways a disk, an editor or another program breaks
// them, met by a start-up and then by a save: the window shows the defaults or
// "Not Set", and "&Save Settings" or "&Optimize" says why it could not write
// instead of replacing what is there.

#include "registry_snapshots.h"
#include "settings_snapshots.h"
#include "support/TestRig.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <unistd.h>

namespace
{

enum class Damage { Cut, Binary, Huge, LinkLoop, NoPermission, Folder };

constexpr qint64 hugeSize = 100 * 1024 * 1024;
// The largest files that the stores read, as the README says.
constexpr qint64 settingsLimit = 8 * 1024 * 1024;
constexpr qint64 registryLimit = 1024 * 1024;

const QString notSet = QStringLiteral("Not Set");

QByteArray bytesOf(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &fileName, const QByteArray &contents)
{
    QFile file(fileName);
    return QDir().mkpath(QFileInfo(fileName).absolutePath()) &&
           file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

// Every byte value in a fixed shuffle, as a picture or an archive saved over
// the file would hold them.
QByteArray binaryBytes()
{
    QByteArray bytes(256, '\0');
    for (int value = 0; value < bytes.size(); ++value)
        bytes[value] = static_cast<char>(value);
    std::shuffle(bytes.begin(), bytes.end(), QRandomGenerator(8));
    return bytes.repeated(16);
}

// Puts the damage where the store file belongs; `sound` is what the store
// held before.
bool putDamage(Damage damage, const QString &fileName, const QByteArray &sound)
{
    if (!QDir().mkpath(QFileInfo(fileName).absolutePath()))
        return false;
    QFile file(fileName);
    switch (damage) {
    case Damage::Cut:
        // In the middle of a value, as a full disk or a copy broken off leaves it.
        return writeFile(fileName, sound.left(sound.indexOf('=', sound.size() / 2) + 3));
    case Damage::Binary:
        return writeFile(fileName, binaryBytes());
    case Damage::Huge:
        // The sound contents, then a hole: 100 MB in no time and no room on disk.
        return writeFile(fileName, sound) && file.resize(hugeSize);
    case Damage::LinkLoop:
        // A link to itself cannot be opened, not even by root.
        return QFile::link(fileName, fileName);
    case Damage::NoPermission:
        return writeFile(fileName, sound) && file.setPermissions({});
    case Damage::Folder:
        return writeFile(fileName + QStringLiteral("/kept.txt"), sound);
    }
    return false;
}

bool rootIgnores(Damage damage)
{
    return damage == Damage::NoPermission && geteuid() == 0;
}

// What stands at a path, in enough detail to tell any change.
QString fingerprint(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return QStringLiteral("link to ") + info.symLinkTarget();
    if (info.isDir())
        return QStringLiteral("folder of ") +
               QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(u',');
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const bool read = file.open(QIODevice::ReadOnly) && hash.addData(&file);
    return QStringLiteral("file of %1 bytes, permissions %2, %3")
        .arg(info.size())
        .arg(static_cast<int>(info.permissions()), 0, 16)
        .arg(read ? QString::fromLatin1(hash.result().toHex()) : QStringLiteral("unreadable"));
}

// How far the peak of the process's resident memory rises after it is made.
class MemoryPeak
{
public:
    MemoryPeak()
    {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        reset_ = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
        start_ = statusKiB("VmRSS:");
    }

    bool wasReset() const { return reset_; }
    qint64 riseBytes() const { return (statusKiB("VmHWM:") - start_) * 1024; }

private:
    static qint64 statusKiB(const QByteArray &field)
    {
        for (const QByteArray &line : bytesOf(QStringLiteral("/proc/self/status")).split('\n'))
            if (line.startsWith(field))
                return line.mid(field.size()).trimmed().split(' ').first().toLongLong();
        return 0;
    }

    bool reset_ = false;
    qint64 start_ = 0;
};

QStringList boxesShown(const ScriptedDialogs &dialogs)
{
    QStringList boxes;
    for (const ScriptedDialogs::Shown &box : dialogs.shown)
        boxes.append(QStringLiteral("%1 | %2 | %3").arg(box.style).arg(box.title, box.prompt));
    return boxes;
}

QString settingsFile(TestRig &rig)
{
    return rig.settings().fileName(QStringLiteral("Quorrel"));
}

// The settings of a first start, with no file at all.
SettingsSnapshot firstStartSettings()
{
    TestRig fresh;
    return SettingsSnapshot::of(fresh.window());
}

// Settings that a user saved, and the file they were saved in.
SettingsSnapshot userSettings()
{
    return {{QStringLiteral("a.example"), QStringLiteral("b.example"), QStringLiteral("c.example")},
            true,
            true,
            QStringLiteral("proxy.example:8080"),
            7};
}

QByteArray savedSettingsFile(const SettingsSnapshot &settings)
{
    TestRig rig;
    [&] { QVERIFY(!settings.saveTo(rig.settings())); }();
    return bytesOf(settingsFile(rig));
}

// The registry store as "&Optimize" leaves it for a 56.6 Kbps modem.
QByteArray optimizedStore()
{
    QTemporaryDir dir;
    FileRegistry registry(dir.filePath(QStringLiteral("registry.reg")));
    [&] { QCOMPARE(profile56k().writeTo(registry), modRegistry::Done); }();
    return bytesOf(registry.fileName());
}

QString storedText(Registry &registry, const TcpSnapshot::Write &write)
{
    modRegistry::Value result;
    modRegistry::ReadValue(registry, QStringLiteral("HKLM"), write.keyPath, write.name,
                           QStringLiteral("S"), notSet, result);
    return modRegistry::toText(result);
}

QStringList currentOf(const frmmain &w)
{
    return {w.CMTU->text(), w.CMSS->text(), w.CRWIN->text(), w.CTTL->text()};
}

// A pick of the user from the speed list, and "&Optimize".
void optimizeFor(frmmain &w, const QString &speed)
{
    const int index = w.Combo1->findText(speed);
    QVERIFY(index >= 0);
    w.Combo1->setCurrentIndex(index);
    emit w.Combo1->activated(index);
    QTest::mouseClick(w.Command12, Qt::LeftButton);
}

// A sound file of exactly `size` bytes: `contents`, then a comment as long as
// needed.
QByteArray paddedTo(const QByteArray &contents, qint64 size)
{
    const QByteArray comment = ";padding\n";
    return contents + QByteArray(size - contents.size() - comment.size(), ';') + comment;
}

} // namespace

Q_DECLARE_METATYPE(Damage)

class BrokenStoresTest : public QObject
{
    Q_OBJECT

private slots:
    void settingsFileThatCannotBeReadShowsTheDefaultsAndIsKept_data()
    {
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<QString>("why"); // %1: the file
        const QString moveIt = QStringLiteral(" Move or delete it to save your settings.");
        const QString notText =
            QStringLiteral("The file %1 is not a settings file: it is not text.");
        const QString tooLarge = QStringLiteral("The file %1 is too large to be a settings file.");
        const QString unreadable = QStringLiteral("The file %1 cannot be read.");
        const QString folder =
            QStringLiteral("There is a folder named %1 where the settings file belongs.");
        QTest::newRow("binary") << Damage::Binary << notText + moveIt;
        QTest::newRow("100 MB") << Damage::Huge << tooLarge + moveIt;
        QTest::newRow("link loop") << Damage::LinkLoop << unreadable + moveIt;
        QTest::newRow("no permission") << Damage::NoPermission << unreadable + moveIt;
        QTest::newRow("folder") << Damage::Folder << folder;
    }

    void settingsFileThatCannotBeReadShowsTheDefaultsAndIsKept()
    {
        QFETCH(Damage, damage);
        QFETCH(QString, why);
        if (rootIgnores(damage))
            QSKIP("root reads and writes files without permission");
        const SettingsSnapshot defaults = firstStartSettings();
        TestRig rig;
        const QString file = settingsFile(rig);
        QVERIFY(putDamage(damage, file, savedSettingsFile(userSettings())));
        const QString before = fingerprint(file);

        const MemoryPeak memory;
        QVERIFY(memory.wasReset());
        frmmain &w = rig.window();
        QCOMPARE(SettingsSnapshot::of(w), defaults);
        QCOMPARE_LT(memory.riseBytes(), hugeSize / 2);

        userSettings().applyTo(w);
        QTest::mouseClick(w.Command10, Qt::LeftButton);
        QCOMPARE(boxesShown(rig.dialogs),
                 QStringList{QStringLiteral("48 | Quorrel Settings | Your settings could not be "
                                            "saved.\n\n") +
                             why.arg(file)});
        QCOMPARE(fingerprint(file), before);
    }

    void cutSettingsFileShowsWhatItHoldsAndASaveWritesItWhole()
    {
        // The format has no end mark: a file cut short reads as a shorter one,
        // its last value as far as it goes. QSettings writes the keys in
        // alphabetical order, so the options after the hosts are lost.
        const QByteArray whole = savedSettingsFile(userSettings());
        TestRig rig;
        QVERIFY(writeFile(settingsFile(rig), whole.left(whole.indexOf("c.example") + 3)));
        frmmain &w = rig.window();
        const SettingsSnapshot left{
            {QStringLiteral("a.example"), QStringLiteral("b.example"), QStringLiteral("c.e")},
            false,
            false,
            QString(),
            1};
        QCOMPARE(SettingsSnapshot::of(w), left);

        QTest::mouseClick(w.Command10, Qt::LeftButton);
        QCOMPARE(boxesShown(rig.dialogs),
                 QStringList{QStringLiteral("64 | Quorrel Settings | Your settings have been "
                                            "saved.")});
        TestRig next;
        QVERIFY(writeFile(settingsFile(next), bytesOf(settingsFile(rig))));
        QCOMPARE(SettingsSnapshot::of(next.window()), left);
    }

    void settingsFileUpToTheSizeLimitIsRead()
    {
        const QByteArray atLimit = paddedTo(savedSettingsFile(userSettings()), settingsLimit);
        TestRig rig;
        QVERIFY(writeFile(settingsFile(rig), atLimit));
        QCOMPARE(SettingsSnapshot::of(rig.window()), userSettings());

        TestRig beyond;
        QVERIFY(writeFile(settingsFile(beyond), atLimit + ';'));
        QCOMPARE(SettingsSnapshot::of(beyond.window()), firstStartSettings());
    }

    void settingsTooLargeToReadBackAreNotSaved()
    {
        TestRig rig;
        frmmain &w = rig.window();
        rig.dialogs.answerMsgBox(Dialogs::OK);
        w.Command10_Click();
        const QByteArray before = bytesOf(settingsFile(rig));
        // 130 hosts of 64 KiB: more than the store reads back at a start.
        for (int host = 0; host < 130; ++host)
            w.appendHost(QString(64 * 1024, QLatin1Char('a' + host % 26)));
        rig.dialogs.answerMsgBox(Dialogs::OK);
        w.Command10_Click();
        QCOMPARE(rig.dialogs.shown.last().style, 48);
        QVERIFY(rig.dialogs.shown.last().prompt.contains(u"too large"));
        QCOMPARE(bytesOf(settingsFile(rig)), before);
    }

    void registryStoreThatCannotBeReadShowsNotSetAndIsKept_data()
    {
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<QString>("why");
        const QString damaged = QStringLiteral("the registry store file is damaged");
        const QString unreadable =
            QStringLiteral("the registry store file could not be read or saved");
        QTest::newRow("cut") << Damage::Cut << damaged;
        QTest::newRow("binary") << Damage::Binary << damaged;
        QTest::newRow("100 MB") << Damage::Huge << unreadable;
        QTest::newRow("link loop") << Damage::LinkLoop << unreadable;
        QTest::newRow("no permission")
            << Damage::NoPermission
            << QStringLiteral("access was denied; the registry store may be read-only");
        QTest::newRow("folder") << Damage::Folder << unreadable;
    }

    void registryStoreThatCannotBeReadShowsNotSetAndIsKept()
    {
        QFETCH(Damage, damage);
        QFETCH(QString, why);
        if (rootIgnores(damage))
            QSKIP("root reads and writes files without permission");
        TestRig rig;
        const QString file = rig.registry().fileName();
        QVERIFY(putDamage(damage, file, optimizedStore()));
        const QString before = fingerprint(file);

        const MemoryPeak memory;
        QVERIFY(memory.wasReset());
        frmmain &w = rig.window();
        QCOMPARE(currentOf(w), QStringList(4, notSet));
        QCOMPARE_LT(memory.riseBytes(), hugeSize / 2);

        optimizeFor(w, QStringLiteral("28.8 Kbps"));
        QCOMPARE(boxesShown(rig.dialogs),
                 QStringList{QStringLiteral("48 | Quorrel | The recommended values could not be "
                                            "written: %1.")
                                 .arg(why)});
        QCOMPARE(currentOf(w), QStringList(4, notSet));
        QCOMPARE(fingerprint(file), before);
    }

    void everyCutOfTheRegistryStoreReadsWholeValuesOrNone()
    {
        // A cut at a line's end leaves a sound store of the lines before it;
        // any other cut leaves a damaged one, read as empty and kept.
        const QByteArray whole = optimizedStore();
        const QList<TcpSnapshot::Write> writes = profile56k().writes();
        const TcpSnapshot::Write change{writes.last().keyPath, writes.last().name,
                                        QStringLiteral("64")};
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("registry.reg"));
        for (qsizetype cut = 0; cut <= whole.size(); ++cut) {
            const QByteArray left = whole.left(cut);
            QVERIFY(writeFile(file, left));
            const bool atLineEnd =
                cut == 0 || cut == whole.size() || whole[cut - 1] == '\n' || whole[cut] == '\n';
            const QString where = QStringLiteral("cut after %1 bytes").arg(cut);
            QStringList expected{where};
            QStringList stored{where};
            FileRegistry registry(file);
            for (const TcpSnapshot::Write &write : writes) {
                const QByteArray line = '"' + write.name.toUtf8() + "\"=";
                const bool complete = whole.indexOf('\n', whole.indexOf(line)) <= cut;
                expected.append(atLineEnd && complete ? write.value : notSet);
                stored.append(storedText(registry, write));
            }
            expected.append(QString::number(atLineEnd ? modRegistry::Done : Registry::ERROR_BADDB));
            stored.append(QString::number(TcpSnapshot::write(registry, change)));
            QCOMPARE(stored, expected);
            if (!atLineEnd)
                QCOMPARE(bytesOf(file), left);
        }
    }

    void registryStoreUpToTheSizeLimitIsRead()
    {
        // Made of many keys: every read parses the whole file, so a parser
        // slow in the number of keys would make this start-up never end.
        QByteArray keys = optimizedStore();
        for (int key = 0; keys.size() < registryLimit - 100; ++key)
            keys += "[HKEY_CURRENT_USER\\Padding\\" + QByteArray::number(key) + "]\n";
        const QByteArray atLimit = paddedTo(keys, registryLimit);
        TestRig rig;
        QVERIFY(writeFile(rig.registry().fileName(), atLimit));
        const QStringList optimized{QStringLiteral("576"), QStringLiteral("536"),
                                    QStringLiteral("4388"), QStringLiteral("128")};
        QCOMPARE(currentOf(rig.window()), optimized);

        TestRig beyond;
        QVERIFY(writeFile(beyond.registry().fileName(), atLimit + ';'));
        QCOMPARE(currentOf(beyond.window()), QStringList(4, notSet));
    }
};

QTEST_MAIN(BrokenStoresTest)
#include "test_broken_stores.moc"
