// Both stores, saved and read back at the next start, and broken as a disk,
// an editor, another Quorrel or the machine breaks them: a start shows the
// defaults or "Not Set", a save or a registry write says why it could not write and
// leaves the file as it was, and nothing goes where the user did not say.

#include "platform/store/StoreFile.h"
#include "settings_snapshots.h"
#include "support/TestRig.h"

#include "optimizer/modRegistry.h"
#include "platform/Dialogs.h"
#include <csignal>
#include <functional>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace
{

const QString saved = u"64 | Quorrel Settings | Your settings have been saved. | "_s;
const QString notSet = u"Not Set"_s;
constexpr int registryLimit = 1024 * 1024;

enum class Damage {
    Cut,
    Binary,
    Huge,
    LinkLoop,
    Pipe,
    NoPermission,
    Folder,
    NoFolder,
    ReadOnlyFolder,
    TooMuch,
    OtherSaving,
    LinkAsLock,
    PipeAsLock,
    DiskFull,
    DiskFillsUp
};

// Puts the damage where the store file belongs; `sound` is what it held.
bool putDamage(Damage damage, const QString &fileName, const QByteArray &sound)
{
    QFile file(fileName);
    switch (damage) {
    case Damage::Cut: // in the middle of a value, as a copy broken off leaves it
        return writeWholeFile(fileName, sound.left(sound.indexOf('=', sound.size() / 2) + 3));
    case Damage::Binary:
        return writeWholeFile(fileName, QByteArray::fromHex("00ff7f80d90a0d1b5b3d").repeated(99));
    case Damage::Huge: // the sound contents, then a hole: 100 MB in no time
        return writeWholeFile(fileName, sound) && file.resize(100 * 1024 * 1024);
    case Damage::LinkLoop: // cannot be opened, not even by root
        return QDir().mkpath(QFileInfo(fileName).path()) && QFile::link(fileName, fileName);
    case Damage::Pipe: // an open for reading waits for a writer
        return QDir().mkpath(QFileInfo(fileName).path()) &&
               mkfifo(QFile::encodeName(fileName).constData(), 0600) == 0;
    case Damage::LinkAsLock:
        return writeWholeFile(fileName, sound) &&
               QFile::link(fileName + u".elsewhere"_s, fileName + u".save.lock"_s);
    case Damage::PipeAsLock:
        return writeWholeFile(fileName, sound) &&
               mkfifo(QFile::encodeName(fileName + u".lock"_s).constData(), 0600) == 0;
    case Damage::NoPermission:
        return writeWholeFile(fileName, sound) && file.setPermissions({});
    case Damage::Folder:
        return writeWholeFile(fileName + u"/kept.txt"_s, sound);
    case Damage::NoFolder: // a plain file where the folder would go
        return writeWholeFile(QFileInfo(fileName).path(), sound);
    default: // the damage comes with the save
        return writeWholeFile(fileName, sound);
    }
}

// What stands at a path, in enough detail to tell any change.
QString fingerprint(const QString &path)
{
    const QFileInfo info(path);
    return u"%1 %2 %3 %4"_s.arg(info.symLinkTarget(), QDir(path).entryList().join(u','))
        .arg(int(info.permissions()))
        .arg(info.isFile() ? qHash(fileBytes(path)) : 0);
}

// A value that only the registry store holds: why writing it failed, or an
// empty text; and what it reads as.
QString writeToStore(Registry &registry, const QString &text = u"576"_s)
{
    const std::int32_t status = modRegistry::WriteValue(registry, u"HKLM"_s, u"Software\\Tune"_s,
                                                        u"MaxMTU"_s, u"S"_s, text);
    return status == modRegistry::Done ? QString() : Registry::describe(status);
}
QString readFromStore(Registry &registry)
{
    modRegistry::Datum value;
    modRegistry::ReadValue(registry, u"HKLM"_s, u"Software\\Tune"_s, u"MaxMTU"_s, u"S"_s, notSet,
                           value);
    return modRegistry::toText(value);
}

// The settings file a save of these settings leaves.
QByteArray fileOf(const SettingsSnapshot &settings)
{
    TestRig rig;
    settings.applyTo(rig.window());
    rig.save();
    return fileBytes(rig.settingsFile());
}

// The registry store holding the value.
QByteArray soundStore()
{
    TestRig rig;
    writeToStore(rig.registry());
    return fileBytes(rig.registry().fileName());
}

// A sound file of exactly `size` bytes: `contents`, then a comment.
QByteArray paddedTo(const QByteArray &contents, qint64 size)
{
    return contents + QByteArray(size - contents.size() - 1, ';') + '\n';
}

int modeOf(const QString &path)
{
    struct stat status {
    };
    return stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : -1;
}

QStringList names(const char *spaced)
{
    return QString::fromLatin1(spaced).split(u' ', Qt::SkipEmptyParts);
}

// While `write` runs, files may grow to `bytes` at most: a write beyond
// fails, as on a full disk.
QString underFileSizeLimit(rlim_t bytes, const std::function<QString()> &write)
{
    const rlimit limited{bytes, RLIM_INFINITY};
    const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limited) != 0)
        return u"(no limit)"_s;
    const QString reported = write();
    return setrlimit(RLIMIT_FSIZE, &none) == 0 ? reported : u"(limit kept)"_s;
}

// Runs `check` in a child process of the user nobody, whom root's privileges
// do not reach: true when it passed.
bool asUnprivilegedUser(const std::function<void()> &check)
{
    constexpr uid_t nobody = 65534;
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)
            _exit(2);
        check();
        std::fflush(stdout);
        _exit(QTest::currentTestFailed() ? 1 : 0);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// The paths of the files, or of every entry, under `root`.
QStringList everythingUnder(const QString &root, QDir::Filters filter = QDir::AllEntries)
{
    QStringList found;
    QDirIterator it(root, filter | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    found.sort();
    return found;
}

} // namespace

Q_DECLARE_METATYPE(SettingsSnapshot)

class StoresTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The limit on a file's size stops a write with EFBIG, not with the signal.
        QVERIFY(std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR);
        umask(022);
    }

    // Whatever the umask lets through.
    void storeFilesAndFoldersAreTheUsersAlone()
    {
        umask(0);
        const auto usualMask = qScopeGuard([] { umask(022); });
        TestRig rig;
        rig.save();
        QCOMPARE(writeToStore(rig.registry()), QString());
        QVERIFY(AttemptLog(rig.attemptLogFile()).append({}));
        const QString config = rig.home() + u"/config"_s;
        const QString data = rig.home() + u"/data"_s;
        const QString state = rig.home() + u"/state"_s;
        QCOMPARE(everythingUnder(config), names("Quorrel Quorrel/Quorrel.ini"));
        QCOMPARE(everythingUnder(data), names("registry.reg"));
        QCOMPARE(everythingUnder(state), names("attempts.log"));
        for (const QString &folder : {config, config + u"/Quorrel"_s, data, state})
            QVERIFY2(modeOf(folder) == 0700, qPrintable(folder));
        for (const QString &file :
             {rig.settingsFile(), rig.registry().fileName(), rig.attemptLogFile()})
            QVERIFY2(modeOf(file) == 0600, qPrintable(file));
        for (const QString &file : {rig.settingsFile(), rig.registry().fileName()})
            QVERIFY(QFile::setPermissions(file,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QCOMPARE(rig.save(), u"Your settings have been saved."_s);
        QCOMPARE(writeToStore(rig.registry(), u"1500"_s), QString());
        for (const QString &file : {rig.settingsFile(), rig.registry().fileName()})
            QVERIFY2(modeOf(file) == 0640, qPrintable(file));
    }

    void aLinkInPlaceOfALockFileIsNotFollowed()
    {
        TestRig rig;
        const QString elsewhere = rig.home() + u"/elsewhere"_s;
        QVERIFY(QDir().mkpath(elsewhere));
        for (const QString &file : {rig.settingsFile() + u".save"_s, rig.registry().fileName()})
            QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()) &&
                    QFile::link(elsewhere + u'/' + QFileInfo(file).fileName(), file + u".lock"_s));
        rig.save();
        writeToStore(rig.registry());
        QCOMPARE(everythingUnder(elsewhere), QStringList());
    }

    void storesGoOnlyWhereTheHomeFolderSays_data()
    {
        QTest::addColumn<QByteArray>("home"); // under the test's folder; "-" for none
        QTest::addColumn<QStringList>("written");
        QTest::newRow("relative XDG folders")
            << QByteArray("home")
            << names("home/.config/Quorrel/Quorrel.ini home/.local/share/quorrel/registry.reg");
        QTest::newRow("no HOME") << QByteArray("-") << QStringList();
        QTest::newRow("empty HOME") << QByteArray() << QStringList();
        QTest::newRow("Latin-1 HOME") << QByteArray("caf\xe9") << QStringList();
    }

    void storesGoOnlyWhereTheHomeFolderSays()
    {
        QFETCH(QByteArray, home);
        QFETCH(QStringList, written);
        const QTemporaryDir root;
        const QByteArray usualHome = qgetenv("HOME");
        const QByteArray homePath = QFile::encodeName(root.path()) + '/' + home;
        const bool homeMade = home.size() > 1 && mkdir(homePath.constData(), 0700) == 0;
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", usualHome);
            QDir::setCurrent(QDir::tempPath());
            // Qt cannot remove a folder whose name is not UTF-8.
            if (homeMade)
                static_cast<void>(rmdir(homePath.constData()));
        });
        QVERIFY(QDir(root.path()).mkdir(u"cwd"_s) && QDir::setCurrent(root.filePath(u"cwd"_s)));
        QVERIFY(home == "-" ? qunsetenv("HOME") : qputenv("HOME", homeMade ? homePath : home));
        QVERIFY(qputenv("XDG_CONFIG_HOME", "relative") && qputenv("XDG_DATA_HOME", "relative"));
        QtSettingsStore settings;
        FileRegistry registry(FileRegistry::defaultFileName());
        QVERIFY(qunsetenv("XDG_CONFIG_HOME") && qunsetenv("XDG_DATA_HOME"));
        settings.write(u"Quorrel"_s, u"options"_s, u"interval"_s, u"5"_s);
        QCOMPARE(settings.commit().has_value(), written.isEmpty());
        QCOMPARE(modRegistry::WriteValue(registry, u"HKLM"_s, u"Tune"_s, u"MaxMTU"_s, u"S"_s,
                                         u"576"_s) == modRegistry::Done,
                 !written.isEmpty());
        QCOMPARE(everythingUnder(root.path(), QDir::Files), written);
    }

    void roundTrip_data()
    {
        QTest::addColumn<SettingsSnapshot>("settings");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("tickProxy"); // with no address
        const QStringList hosts = {u"www.one.example"_s, QString(28, u' '), u"3"_s};
        // Characters with a meaning in an INI file or to a parser, blanks at
        // either end, other scripts; more than ten hosts.
        QStringList odd =
            u"  lead|trail  |日本語 😀|a;b,c=d|\"q\"|back\\slash\\|#hash %20|[options]|"
            u"tab\there\x1b\x7f\u0085|a\nb\r\nc\rd|\u202e\ufeff\u200b\u0301\ufffe\uffff"_s.split(
                u'|');
        odd << u"host"_s + QChar() + u"tail"_s << QString(64 * 1024, u'é');
        const auto row = [](const char *name, const SettingsSnapshot &settings,
                            const char *button = "Command10", bool tickProxy = false) {
            QTest::newRow(name) << settings << QString::fromLatin1(button) << tickProxy;
        };
        row("all on", {hosts, true, true, u"proxy.example:3128"_s, 17});
        row("all off, Options page", {hosts, false, false, QString(), 1}, "Command8");
        row("proxy with blanks", {hosts, false, true, u" 10.0.0.1:80 "_s, 30});
        row("proxy ticked, no address", {hosts, true, false, QString(), 5}, "Command8", true);
        row("no hosts", {{}, false, false, QString(), 2});
        row("odd texts", {odd, false, false, odd[9] + odd[10] + odd[11], 9});
    }

    void roundTrip()
    {
        QFETCH(SettingsSnapshot, settings);
        QFETCH(QString, button);
        QFETCH(bool, tickProxy);
        // A save with every option on before; then an editor leaves a bad line in it.
        TestRig rig(fileOf({{u"old"_s}, true, true, u"old:1"_s, 4}));
        frmmain &w = rig.window();
        QVERIFY(writeWholeFile(rig.settingsFile(),
                               fileBytes(rig.settingsFile()) + "no equals sign here\n"));
        settings.applyTo(w);
        if (tickProxy)
            w.Check1->click();
        w.findChild<QPushButton *>(button)->click();
        QCOMPARE(rig.dialogs.boxes, QStringList{saved});
        QCOMPARE(storedOptions(rig.settingsFile()), settings.storedKeys());
        QCOMPARE(w.List1->currentRow(), settings.hosts.size() - 1);

        TestRig next(fileBytes(rig.settingsFile()));
        if (settings.hosts.isEmpty())
            settings.hosts = defaultHosts();
        QCOMPARE(SettingsSnapshot::of(next.window()), settings);
        QCOMPARE(next.window().Check1->isChecked(), !settings.proxy.isEmpty());
    }

    void handWrittenFile_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<SettingsSnapshot>("shown");
        QTest::addColumn<bool>("proxyTicked");
        const QStringList defaults = defaultHosts();
        // Only exactly "1" switches an option on; quoted, blanks are kept.
        for (const QByteArray text : {"1", "0", "yes", "\" 1\"", "\"1 \"", "01", ""}) {
            const bool on = text == "1";
            QTest::addRow("options \"%s\"", text.constData())
                << "random=" + text + "\nmethod=" + text + "\nproxy=" + text + "\naddress=p\n"
                << SettingsSnapshot{defaults, on, on, on ? u"p"_s : QString(), 1} << on;
        }
        const std::pair<QByteArray, int> intervals[] = {
            {"12", 12},    {"7.4", 7},   {"7.5", 8},  {"2e1", 20}, {"-3", 1},  {"45", 30},
            {"1e300", 30}, {"30.4", 30}, {"five", 1}, {"nan", 1},  {"inf", 1}, {"", 1}};
        for (const auto &[text, minutes] : intervals)
            QTest::addRow("interval \"%s\"", text.constData())
                << "interval=" + text << SettingsSnapshot{defaults, false, false, {}, minutes}
                << false;
        // The list ends at the missing host2; bare commas are one text; a cut ends
        // a value.
        QTest::newRow("hosts") << QByteArray("host0=a,b\nhost1=b.exa\nhost3=after\n")
                               << SettingsSnapshot{.hosts = {u"a,b"_s, u"b.exa"_s}} << false;
        QTest::newRow("proxy, no address")
            << QByteArray("proxy=1") << SettingsSnapshot{.hosts = defaults} << true;
    }

    void handWrittenFile()
    {
        QFETCH(QByteArray, options);
        QFETCH(SettingsSnapshot, shown);
        QFETCH(bool, proxyTicked);
        TestRig rig("[options]\n" + options);
        frmmain &w = rig.window();
        QCOMPARE(SettingsSnapshot::of(w), shown);
        QCOMPARE(w.Check1->isChecked(), proxyTicked);
        QVERIFY(w.Text1->isEnabled());
        QCOMPARE(w.Label5->text(), u"Connect every %1 minute(s)"_s.arg(shown.interval));
    }

    void aBrokenStoreIsKept()
    {
        const QString moveIt = u" Move or delete it to save your settings."_s;
        const QString unreadable = u"The file %1 cannot be read."_s + moveIt;
        const QString diskFull = u"The file %1 could not be written. The disk may be full."_s;
        const QString regDamaged = u"the registry store file is damaged"_s;
        const QString regUnreadable = u"the registry store file could not be read or saved"_s;
        // Whether it is the registry store, the damage, why the write fails
        // (%1: the file, %2: its folder).
        const std::tuple<bool, Damage, QString> rows[] = {
            {false, Damage::Binary,
             u"The file %1 is not a settings file: it is not text."_s + moveIt},
            {false, Damage::Huge, u"The file %1 is too large to be a settings file."_s + moveIt},
            {false, Damage::LinkLoop, unreadable},
            {false, Damage::Pipe, unreadable},
            {false, Damage::NoPermission, unreadable},
            {false, Damage::Folder,
             u"There is a folder named %1 where the settings file belongs."_s},
            {false, Damage::NoFolder, u"The folder %2 does not exist and cannot be created."_s},
            {false, Damage::ReadOnlyFolder, u"The folder %2 is not writable."_s},
            {false, Damage::TooMuch,
             QStringLiteral("Your settings are too large to be stored: the settings file may "
                            "hold at most 8 MiB. Remove or shorten some hosts, then save again.")},
            {false, Damage::OtherSaving,
             QStringLiteral("Another Quorrel is saving its settings in %1. Try again in a "
                            "moment.")},
            {false, Damage::LinkAsLock,
             u"Something that is not a file is where the lock file %1.save.lock belongs."_s +
                 moveIt},
            {false, Damage::DiskFull, diskFull},
            {false, Damage::DiskFillsUp, diskFull},
            {true, Damage::Cut, regDamaged},
            {true, Damage::Binary, regDamaged},
            {true, Damage::Huge, regUnreadable},
            {true, Damage::LinkLoop, regUnreadable},
            {true, Damage::Pipe, regUnreadable},
            {true, Damage::PipeAsLock, regUnreadable},
            {true, Damage::Folder, regUnreadable},
            {true, Damage::OtherSaving,
             u"another Quorrel is writing the registry store. Try again in a moment"_s},
            {true, Damage::DiskFull, regUnreadable},
            {true, Damage::DiskFillsUp, regUnreadable},
            {true, Damage::NoPermission,
             u"access was denied; the registry store may be read-only"_s}};
        for (const auto &[registry, damage, why] : rows) {
            // Root reads and writes without permission: as root, these rows
            // run as another user.
            if ((damage == Damage::NoPermission || damage == Damage::ReadOnlyFolder) && !geteuid())
                QVERIFY(asUnprivilegedUser([&] { damageIsKept(registry, damage, why); }));
            else
                damageIsKept(registry, damage, why);
            if (QTest::currentTestFailed())
                return;
        }
    }

    void storesUpToTheirSizeLimitAreRead()
    {
        const SettingsSnapshot settings{{u"a.example"_s}, true, true, QString(), 7};
        const QByteArray atLimit = paddedTo(fileOf(settings), 8 * 1024 * 1024);
        QCOMPARE(SettingsSnapshot::of(TestRig(atLimit).window()), settings);
        QCOMPARE(SettingsSnapshot::of(TestRig(atLimit + ';').window()).hosts, defaultHosts());
        // Of many keys: a parser slow in the number of keys would never end the
        // start.
        QByteArray keys = soundStore();
        for (int key = 0; keys.size() < registryLimit - 100; ++key)
            keys += "[HKEY_CURRENT_USER\\Padding\\" + QByteArray::number(key) + "]\n";
        for (const QByteArray &store :
             {paddedTo(keys, registryLimit), paddedTo(keys, registryLimit + 1)}) {
            TestRig rig;
            QVERIFY(writeWholeFile(rig.registry().fileName(), store));
            QCOMPARE(readFromStore(rig.registry()),
                     store.size() > registryLimit ? notSet : u"576"_s);
        }
    }

private:
    // Puts the damage in the store, then shows and saves settings over it.
    void damageIsKept(bool registry, Damage damage, QString why)
    {
        const SettingsSnapshot old{{u"old.example"_s}, true, false, QString(), 6};
        TestRig rig;
        const QString file = registry ? rig.registry().fileName() : rig.settingsFile();
        const QString folder = QFileInfo(file).path();
        const QString damaged = damage == Damage::NoFolder ? folder : file;
        // The registry held by another Quorrel is empty: nothing to show.
        const bool empty = registry && damage == Damage::OtherSaving;
        const QByteArray sound = empty ? "" : registry ? soundStore() : fileOf(old);
        QVERIFY(putDamage(damage, file, sound));
        const QString before = fingerprint(damaged);
        frmmain &w = rig.window();
        // Read at the start: the settings shown, or the value stored.
        const bool readable = damage >= Damage::ReadOnlyFolder && !empty;
        const QString value = registry && readable ? u"576"_s : notSet;
        QCOMPARE(SettingsSnapshot::of(w),
                 !registry && readable ? old : SettingsSnapshot{.hosts = defaultHosts()});
        QCOMPARE(readFromStore(rig.registry()), value);

        SettingsSnapshot wanted = oneOfTwo(true);
        // Too much: 130 hosts of 64 KiB, more than a start reads back.
        for (int host = 0; damage == Damage::TooMuch && host < 130; ++host)
            wanted.hosts.append(QString(64 * 1024, QChar(u'a' + host % 26)));
        wanted.applyTo(w);
        const bool readOnly = damage == Damage::ReadOnlyFolder;
        QVERIFY(!readOnly || QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        std::optional<StoreLock> otherQuorrel;
        if (damage == Damage::OtherSaving)
            otherQuorrel.emplace(registry ? file : file + u".save"_s);
        QElapsedTimer waited;
        waited.start();
        int painted = 0; // the window's events, handled while the save waits
        QTimer painting;
        connect(&painting, &QTimer::timeout, this, [&painted] { ++painted; });
        painting.start(50);
        // A full disk: no byte can be written, or half as many as the store had.
        const QString written = underFileSizeLimit(
            damage == Damage::DiskFull      ? 0
            : damage == Damage::DiskFillsUp ? sound.size() / 2
                                            : RLIM_INFINITY,
            [&] { return registry ? writeToStore(rig.registry(), u"1500"_s) : rig.save(); });
        // A hung Quorrel's lock is waited for 1 s at most, while the window
        // goes on painting.
        QVERIFY(!otherQuorrel || (waited.elapsed() >= 800 && waited.elapsed() < 3000));
        QVERIFY(!otherQuorrel || registry || painted >= 5);
        otherQuorrel.reset();
        QVERIFY(!readOnly || QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner |
                                                               QFile::ExeOwner));
        why.replace(u"%1"_s, file).replace(u"%2"_s, folder);
        QCOMPARE(registry ? written : rig.dialogs.boxes.join(u'|'),
                 registry ? why
                          : QStringLiteral("48 | Quorrel Settings | Your settings "
                                           "could not be saved.\n\n%1 | ")
                                .arg(why));
        QCOMPARE(readFromStore(rig.registry()), value);
        QCOMPARE(fingerprint(damaged), before);
        if (!registry && readable)
            QCOMPARE(SettingsSnapshot::of(TestRig(fileBytes(file)).window()), old);
    }
};

QTEST_MAIN(StoresTest)
#include "test_stores.moc"
