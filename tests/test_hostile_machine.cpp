// A hostile machine: a full disk, a store held by another Quorrel, a very long
// host, links for lock files, odd home folders.

#include "optimizer/modRegistry.h"
#include "platform/Dialogs.h"
#include "platform/StoreFile.h"
#include "support/TestRig.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace
{

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

// One way a store is written: what it holds before, the write, which gives
// what it reports, the file written, and how a failure is reported.
struct WritePath {
    const char *name;
    std::function<void(TestRig &)> before;
    std::function<QString(TestRig &)> write;
    QString (*file)(TestRig &);
    QString failure;
};

QString iniFile(TestRig &rig)
{
    return rig.home() + u"/tune.ini"_s;
}

const WritePath writePaths[] = {
    {"settings save", [](TestRig &rig) { rig.save(); },
     [](TestRig &rig) {
         rig.dialogs.answerInputBox(u"www.example.org/"_s + QString(300, u'p'));
         QTest::mouseClick(rig.window().Command5, Qt::LeftButton);
         return rig.save();
     },
     [](TestRig &rig) { return rig.settingsFile(); }, u"Your settings could not be saved."_s},
    {"registry values set", [](TestRig &rig) { rig.optimizeFor(u"28.8 Kbps"_s); },
     [](TestRig &rig) { return rig.optimizeFor(u"56.6 Kbps"_s); },
     [](TestRig &rig) { return rig.registry().fileName(); },
     QStringLiteral("The recommended values could not be written: the registry store file "
                    "could not be read or saved.")},
    {"initialisation file",
     [](TestRig &rig) { QVERIFY(writeWholeFile(iniFile(rig), "[TCP]\nMaxMTU=1500\n")); },
     [](TestRig &rig) {
         return QVariant(rig.registry().WritePrivateProfileStringA(
                             u"TCP"_s, u"DefaultRcvWindow"_s, QString(100, u'4'), iniFile(rig)))
             .toString();
     },
     iniFile, u"false"_s},
};

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

class HostileMachineTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The limit on a file's size stops a write with EFBIG, not with the signal.
        QVERIFY(std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR);
        umask(022);
    }

    void aFullDiskLeavesEveryStoreAsItWas()
    {
        for (const WritePath &path : writePaths) {
            TestRig whole;
            path.before(whole);
            QVERIFY2(!path.write(whole).startsWith(path.failure), path.name);
            const qint64 fullSize = QFileInfo(path.file(whole)).size();
            for (const qint64 limit : {qint64(0), qint64(1), fullSize / 2, fullSize - 1}) {
                TestRig rig;
                path.before(rig);
                const QByteArray old = fileBytes(path.file(rig));
                const QString reported = underFileSizeLimit(limit, [&] { return path.write(rig); });
                const QString where =
                    u"%1 at %2 bytes: "_s.arg(QLatin1String(path.name)).arg(limit);
                QVERIFY2(reported.startsWith(path.failure), qPrintable(where + reported));
                QVERIFY2(fileBytes(path.file(rig)) == old, qPrintable(where));
            }
        }
    }

    void anOptimizeWaitsOnceForAnotherQuorrelThenSaysSo()
    {
        TestRig rig;
        QVERIFY(QDir().mkpath(QFileInfo(rig.registry().fileName()).absolutePath()));
        const StoreLock otherQuorrel(rig.registry().fileName());
        QCOMPARE(otherQuorrel.state(), StoreLock::State::Locked);
        QElapsedTimer elapsed;
        elapsed.start();
        const QString reported = rig.optimizeFor(u"56.6 Kbps"_s);
        QVERIFY2(elapsed.elapsed() < 3000, "a brief wait, once");
        QVERIFY2(reported.contains(u"another Quorrel"), qPrintable(reported));
        QVERIFY(!QFile::exists(rig.registry().fileName()));
    }

    // Each paint of a very long host measures only what can show.
    void aVeryLongHostDoesNotHoldUpThePaint()
    {
        TestRig rig;
        rig.window().Label1->setText(u"Remote Host: "_s + QString(1'000'000, u'w'));
        const QDeadlineTimer deadline(3000);
        for (int paint = 0; paint < 3 && !deadline.hasExpired(); ++paint)
            static_cast<void>(rig.window().Label1->grab());
        QVERIFY(!deadline.hasExpired());
    }

    // Made for the user alone, they keep the mode the user gives them, and
    // no lock file stays behind.
    void storeFilesAndFoldersAreTheUsersAlone()
    {
        TestRig rig;
        rig.save();
        rig.optimizeFor(u"56.6 Kbps"_s);
        const QString config = rig.home() + u"/config"_s;
        const QString data = rig.home() + u"/data"_s;
        QCOMPARE(everythingUnder(config), names("Quorrel Quorrel/Quorrel.ini"));
        QCOMPARE(everythingUnder(data), names("registry.reg"));
        for (const QString &folder : {config, config + u"/Quorrel"_s, data})
            QVERIFY2(modeOf(folder) == 0700, qPrintable(folder));
        for (const QString &file : {rig.settingsFile(), rig.registry().fileName()}) {
            QVERIFY2(modeOf(file) == 0600, qPrintable(file));
            QVERIFY(QFile::setPermissions(file,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        }
        QCOMPARE(rig.save(), u"Your settings have been saved."_s);
        QVERIFY(rig.optimizeFor(u"28.8 Kbps"_s).startsWith(u"Your system has been"));
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
        rig.optimizeFor(u"56.6 Kbps"_s);
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

    void anEditedLongHostComesBackWhole()
    {
        QtDialogs dialogs;
        const QString host = u"www.example.org/"_s + QString(40'000, u'p');
        QTimer::singleShot(
            0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
        QCOMPARE(dialogs.InputBox(u"Edit"_s, u"Quorrel"_s, host), host);
    }
};

QTEST_MAIN(HostileMachineTest)
#include "test_hostile_machine.moc"
