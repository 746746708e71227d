// Saving the settings and reading them back at the next start.

#include "settings_snapshots.h"
#include "support/TestRig.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

const QString application = QStringLiteral("Quorrel");

QString settingsFile(TestRig &rig)
{
    return rig.settings().fileName(application);
}

QByteArray bytesOf(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &fileName, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(fileName).absolutePath()));
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

// The keys of the "options" section as a fresh reader finds them on disk. The
// file is read through a copy: Qt caches settings files by name within a
// process, and after a failed save that cache still holds the unsaved changes.
QMap<QString, QString> storedOptions(const QString &fileName)
{
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath(QStringLiteral("copy.ini"));
    QMap<QString, QString> keys;
    if (!QFile::copy(fileName, copy))
        return keys;
    QSettings settings(copy, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("options"));
    for (const QString &key : settings.childKeys())
        keys.insert(key, settings.value(key).toString());
    return keys;
}

// A new run of the program on what the given run left on disk.
std::unique_ptr<TestRig> nextStart(TestRig &previous)
{
    auto next = std::make_unique<TestRig>();
    if (QFile::exists(settingsFile(previous)))
        writeFile(settingsFile(*next), bytesOf(settingsFile(previous)));
    return next;
}

QStringList boxesShown(const ScriptedDialogs &dialogs)
{
    QStringList boxes;
    for (const ScriptedDialogs::Shown &box : dialogs.shown)
        boxes.append(QStringLiteral("%1 | %2 | %3").arg(box.style).arg(box.title, box.prompt));
    return boxes;
}

QString savedBox()
{
    return QStringLiteral("64 | Quorrel Settings | Your settings have been saved.");
}

QString warningBox(const QString &why)
{
    return QStringLiteral("48 | Quorrel Settings | Your settings could not be saved.\n\n") + why;
}

// Texts a user might type as a host: blanks at either end, letters of other
// scripts, and every character with a meaning in an INI file.
QStringList awkwardHosts(int count)
{
    const QStringList pieces = {
        QStringLiteral("  leading.example"),
        QStringLiteral("trailing.example  "),
        QStringLiteral(" both "),
        QStringLiteral("bücher.example"),
        QStringLiteral("日本語.example"),
        QStringLiteral("smile 😀"),
        QStringLiteral("a;b,c=d"),
        QStringLiteral("\"quoted\""),
        QStringLiteral("back\\slash\\"),
        QStringLiteral("#hash"),
        QStringLiteral("%percent%20"),
        QStringLiteral("@at"),
        QStringLiteral("[options]"),
        QStringLiteral("tab\there"),
        QStringLiteral("none"),
        QStringLiteral("1"),
    };
    QStringList hosts;
    for (int row = 0; row < count; ++row) {
        const QString &piece = pieces[row % pieces.size()];
        // The number goes to either end, so blanks end up on both sides of it.
        hosts.append(row % 2 ? piece + QString::number(row) : QString::number(row) + piece);
    }
    return hosts;
}

// Makes every later write past the given size fail, as a full disk would;
// as root too, which ignores the folders' permissions.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        active_ = getrlimit(RLIMIT_FSIZE, &saved_) == 0;
        rlimit lowered = saved_;
        lowered.rlim_cur = std::min(bytes, saved_.rlim_max);
        // The signal would end the process; ignored, the write fails instead.
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        active_ = active_ && previousHandler_ != SIG_ERR && setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool active() const { return active_; }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool active_ = false;
};

} // namespace

Q_DECLARE_METATYPE(SettingsSnapshot)

// What QCOMPARE prints when two sets of settings differ.
char *toString(const SettingsSnapshot &s)
{
    const QString text =
        QStringLiteral("%1 hosts (first \"%2\", last \"%3\"), random %4, ftp %5, proxy \"%6\", "
                       "interval %7")
            .arg(s.hosts.size())
            .arg(s.hosts.value(0), s.hosts.value(s.hosts.size() - 1))
            .arg(s.random)
            .arg(s.ftp)
            .arg(s.proxy)
            .arg(s.interval);
    return qstrdup(text.toUtf8().constData());
}

class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        rig = std::make_unique<TestRig>();
        w = &rig->window();
    }
    void cleanup() { rig.reset(); }

    void everyOptionRoundTrips_data()
    {
        QTest::addColumn<SettingsSnapshot>("settings");
        const QStringList hosts = {QStringLiteral("www.one.example"),
                                   QStringLiteral("ftp.two.example"), QStringLiteral("three")};
        QTest::newRow("all on") << SettingsSnapshot{hosts, true, true,
                                                    QStringLiteral("proxy.example:3128"), 17};
        QTest::newRow("all off") << SettingsSnapshot{hosts, false, false, QString(), 1};
        QTest::newRow("random only") << SettingsSnapshot{hosts, true, false, QString(), 30};
        QTest::newRow("ftp only") << SettingsSnapshot{hosts, false, true, QString(), 2};
        QTest::newRow("proxy only")
            << SettingsSnapshot{hosts, false, false, QStringLiteral("  10.0.0.1:80 "), 5};
    }

    void everyOptionRoundTrips()
    {
        QFETCH(SettingsSnapshot, settings);
        settings.applyTo(*w);
        w->savesettings();
        QCOMPARE(boxesShown(rig->dialogs), QStringList{savedBox()});
        QCOMPARE(storedOptions(settingsFile(*rig)), settings.storedKeys());

        const auto next = nextStart(*rig);
        frmmain &restarted = next->window();
        QCOMPARE(SettingsSnapshot::of(restarted), settings);
        QCOMPARE(restarted.Check1->isChecked(), !settings.proxy.isEmpty());
        QCOMPARE(restarted.http->isChecked(), !settings.ftp);
        QCOMPARE(restarted.Label5->text(),
                 QStringLiteral("Connect every %1 minute(s)").arg(settings.interval));
    }

    void switchingAnOptionOffRemovesItsKey()
    {
        const QStringList hosts = {QStringLiteral("a.example"), QStringLiteral("b.example")};
        SettingsSnapshot settings{hosts, true, true, QStringLiteral("proxy.example"), 9};
        settings.applyTo(*w);
        QVERIFY(!w->save());
        settings = {hosts, false, false, QString(), 9};
        settings.applyTo(*w);
        QVERIFY(!w->save());
        QCOMPARE(storedOptions(settingsFile(*rig)), settings.storedKeys());
    }

    void bothSaveButtonsSaveAndSay_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Hosts page") << QStringLiteral("Command10");
        QTest::newRow("Options page") << QStringLiteral("Command8");
    }

    void bothSaveButtonsSaveAndSay()
    {
        QFETCH(QString, button);
        // The first save of all: there is no store to replace yet.
        QVERIFY(!QFile::exists(settingsFile(*rig)));
        const SettingsSnapshot settings{
            {QStringLiteral("x.example"), QStringLiteral("y.example")}, true, false, QString(), 4};
        settings.applyTo(*w);
        w->findChild<QPushButton *>(button)->click();
        QCOMPARE(boxesShown(rig->dialogs), QStringList{savedBox()});
        QCOMPARE(storedOptions(settingsFile(*rig)), settings.storedKeys());
        // Saving selects each row in turn and leaves the last one selected.
        QCOMPARE(w->List1->currentRow(), 1);
    }

    void anEmptyListBringsTheDefaultsBack()
    {
        const QStringList defaults = SettingsSnapshot::of(*w).hosts;
        QCOMPARE(defaults.size(), 8);
        w->List1->clear();
        w->savesettings();
        QCOMPARE(boxesShown(rig->dialogs), QStringList{savedBox()});
        QCOMPARE(storedOptions(settingsFile(*rig)).keys(), QStringList{QStringLiteral("interval")});
        QCOMPARE(w->List1->currentRow(), -1);

        const auto next = nextStart(*rig);
        QCOMPARE(SettingsSnapshot::of(next->window()).hosts, defaults);
    }

    void manyAwkwardHostsComeBackExactlyAndInOrder()
    {
        const QStringList hosts = awkwardHosts(2000);
        w->List1->clear();
        w->List1->addItems(hosts);
        QVERIFY(!w->save());
        QCOMPARE(w->List1->currentRow(), 1999);

        const auto next = nextStart(*rig);
        QCOMPARE(SettingsSnapshot::of(next->window()).hosts, hosts);
    }

    void noneIsAnOrdinaryHost_data()
    {
        QTest::addColumn<QStringList>("hosts");
        const QString none = QStringLiteral("none");
        QTest::newRow("first") << QStringList{none, QStringLiteral("b.example")};
        QTest::newRow("in the middle")
            << QStringList{QStringLiteral("a.example"), none, QStringLiteral("c.example")};
        QTest::newRow("the only one") << QStringList{none};
    }

    void noneIsAnOrdinaryHost()
    {
        QFETCH(QStringList, hosts);
        w->List1->clear();
        w->List1->addItems(hosts);
        QVERIFY(!w->save());
        const auto next = nextStart(*rig);
        QCOMPARE(SettingsSnapshot::of(next->window()).hosts, hosts);
    }

    void proxyTickedWithoutAddressSavesNeither()
    {
        w->Check1->setChecked(true);
        w->Text1->clear();
        QVERIFY(!w->save());
        const QMap<QString, QString> stored = storedOptions(settingsFile(*rig));
        QVERIFY(!stored.contains(QStringLiteral("proxy")));
        QVERIFY(!stored.contains(QStringLiteral("address")));

        const auto next = nextStart(*rig);
        QVERIFY(!next->window().Check1->isChecked());
        QCOMPARE(next->window().Text1->text(), QString());
    }

    void proxyStoredWithoutAddressLeavesTheBoxEmpty()
    {
        TestRig fresh;
        fresh.settings().write(application, QStringLiteral("options"), QStringLiteral("proxy"),
                               QStringLiteral("1"));
        QVERIFY(!fresh.settings().commit());
        frmmain &loaded = fresh.window();
        QVERIFY(loaded.Check1->isChecked());
        QVERIFY(loaded.Text1->isEnabled());
        QCOMPARE(loaded.Text1->text(), QString());
    }

    void onlyExactlyOneSwitchesAnOptionOn_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("on");
        QTest::newRow("one") << QStringLiteral("1") << true;
        QTest::newRow("zero") << QStringLiteral("0") << false;
        QTest::newRow("a word") << QStringLiteral("yes") << false;
        QTest::newRow("blank before") << QStringLiteral(" 1") << false;
        QTest::newRow("blank after") << QStringLiteral("1 ") << false;
        QTest::newRow("leading zero") << QStringLiteral("01") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void onlyExactlyOneSwitchesAnOptionOn()
    {
        QFETCH(QString, stored);
        QFETCH(bool, on);
        TestRig fresh;
        for (const char *key : {"random", "method", "proxy"})
            fresh.settings().write(application, QStringLiteral("options"), QLatin1String(key),
                                   stored);
        fresh.settings().write(application, QStringLiteral("options"), QStringLiteral("address"),
                               QStringLiteral("proxy.example"));
        QVERIFY(!fresh.settings().commit());

        frmmain &loaded = fresh.window();
        QCOMPARE(loaded.random1->isChecked(), on);
        QCOMPARE(loaded.ftp->isChecked(), on);
        QCOMPARE(loaded.http->isChecked(), !on);
        QCOMPARE(loaded.Check1->isChecked(), on);
        QCOMPARE(loaded.Text1->text(), on ? QStringLiteral("proxy.example") : QString());
    }

    void storedInterval_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("position");
        QTest::newRow("whole") << QStringLiteral("12") << 12;
        QTest::newRow("rounded down") << QStringLiteral("7.4") << 7;
        QTest::newRow("rounded up") << QStringLiteral("7.5") << 8;
        QTest::newRow("exponent") << QStringLiteral("2e1") << 20;
        QTest::newRow("below the range") << QStringLiteral("-3") << 1;
        QTest::newRow("above the range") << QStringLiteral("45") << 30;
        QTest::newRow("far above the range") << QStringLiteral("1e300") << 30;
        QTest::newRow("rounds into the range") << QStringLiteral("30.4") << 30;
        QTest::newRow("a word") << QStringLiteral("five") << 1;
        QTest::newRow("not a number") << QStringLiteral("nan") << 1;
        QTest::newRow("infinite") << QStringLiteral("inf") << 1;
        QTest::newRow("empty") << QString() << 1;
    }

    void storedInterval()
    {
        QFETCH(QString, stored);
        QFETCH(int, position);
        TestRig fresh;
        fresh.settings().write(application, QStringLiteral("options"), QStringLiteral("interval"),
                               stored);
        QVERIFY(!fresh.settings().commit());
        frmmain &loaded = fresh.window();
        QCOMPARE(loaded.Slider1->value(), position);
        QCOMPARE(loaded.Label5->text(), QStringLiteral("Connect every %1 minute(s)").arg(position));
    }

    void filesWrittenByHandStillLoad()
    {
        TestRig fresh;
        // host2 is missing, so the list ends there; bare commas make a list in
        // QSettings' eyes, which is read back as the one text it was.
        writeFile(settingsFile(fresh), "[options]\n"
                                       "host0=www.a.example\n"
                                       "host1=a,b\n"
                                       "host3=www.after.gap.example\n"
                                       "random=1\n"
                                       "method=1\n"
                                       "interval=12\n"
                                       "proxy=1\n"
                                       "address=proxy.example:3128\n");
        const SettingsSnapshot expected{{QStringLiteral("www.a.example"), QStringLiteral("a,b")},
                                        true,
                                        true,
                                        QStringLiteral("proxy.example:3128"),
                                        12};
        QCOMPARE(SettingsSnapshot::of(fresh.window()), expected);
    }

    void aDamagedOldFileIsReplaced()
    {
        writeFile(settingsFile(*rig), "[options]\nhost0=old.example\nno equals sign here\n");
        const SettingsSnapshot settings{{QStringLiteral("new.example")}, false, true, QString(), 3};
        settings.applyTo(*w);
        w->savesettings();
        QCOMPARE(boxesShown(rig->dialogs), QStringList{savedBox()});
        QCOMPARE(storedOptions(settingsFile(*rig)), settings.storedKeys());
    }

    void aReadOnlyFolderKeepsTheOldFile()
    {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders");
        const QString folder = QFileInfo(settingsFile(*rig)).absolutePath();
        QVERIFY(!saveOldSettings());
        const QByteArray old = bytesOf(settingsFile(*rig));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        saveNewSettings();
        QVERIFY(
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(
            boxesShown(rig->dialogs),
            QStringList{warningBox(QStringLiteral("The folder %1 is not writable.").arg(folder))});
        expectOldSettingsKept(old);
    }

    void aWriteFailingPartWayKeepsTheOldSettingsWhole_data()
    {
        QTest::addColumn<QByteArray>("damage");
        QTest::newRow("sound old file") << QByteArray();
        // QSettings then reports the damage, not the failed write.
        QTest::newRow("damaged old file") << QByteArray("no equals sign here\n");
    }

    void aWriteFailingPartWayKeepsTheOldSettingsWhole()
    {
        QFETCH(QByteArray, damage);
        QVERIFY(!saveOldSettings());
        const QByteArray old = bytesOf(settingsFile(*rig)) + damage;
        writeFile(settingsFile(*rig), old);
        {
            const FileSizeLimit fullDisk(static_cast<rlim_t>(old.size()) + 1024);
            QVERIFY(fullDisk.active());
            saveNewSettings();
        }
        QCOMPARE(boxesShown(rig->dialogs),
                 QStringList{warningBox(
                     QStringLiteral("The file %1 could not be written. The disk may be full.")
                         .arg(settingsFile(*rig)))});
        expectOldSettingsKept(old);
    }

    void aFolderInPlaceOfTheFileIsReported()
    {
        const QString file = settingsFile(*rig);
        QVERIFY(QDir().mkpath(file));
        w->savesettings();
        QCOMPARE(boxesShown(rig->dialogs),
                 QStringList{warningBox(
                     QStringLiteral("There is a folder named %1 where the settings file belongs.")
                         .arg(file))});
        QVERIFY(QFileInfo(file).isDir());
    }

    void aFolderThatCannotBeCreatedIsReported()
    {
        // A plain file stands where the settings folder would go.
        const QString folder = QFileInfo(settingsFile(*rig)).absolutePath();
        writeFile(folder, "not a folder");
        w->savesettings();
        QCOMPARE(boxesShown(rig->dialogs),
                 QStringList{warningBox(
                     QStringLiteral("The folder %1 does not exist and cannot be created.")
                         .arg(folder))});
        QCOMPARE(bytesOf(folder), QByteArray("not a folder"));
    }

private:
    // The settings that a failed save must leave in place.
    std::optional<QString> saveOldSettings()
    {
        oldSettings = {{QStringLiteral("old.example")}, true, false, QString(), 6};
        oldSettings.applyTo(*w);
        return w->save();
    }

    void saveNewSettings()
    {
        SettingsSnapshot{awkwardHosts(2000), false, true, QStringLiteral("p.example"), 20}.applyTo(
            *w);
        w->savesettings();
    }

    void expectOldSettingsKept(const QByteArray &old)
    {
        QCOMPARE(bytesOf(settingsFile(*rig)), old);
        const auto next = nextStart(*rig);
        QCOMPARE(SettingsSnapshot::of(next->window()), oldSettings);
    }

    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
    SettingsSnapshot oldSettings;
};

QTEST_MAIN(SettingsTest)
#include "test_settings.moc"
