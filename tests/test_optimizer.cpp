// The QuorrelTune page: current values, the speed pick and "&Optimize".

#include "optimizer/modRegistry.h"
#include "support/TestRig.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace
{

const QString netTransKey =
    QStringLiteral("System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000");
const QString netKey = QStringLiteral("System\\CurrentControlSet\\Services\\Class\\Net\\0000");
const QString mstcpKey = QStringLiteral("System\\CurrentControlSet\\Services\\Vxd\\MSTCP");

const QString notSet = QStringLiteral("Not Set");
const QString selectSpeed = QStringLiteral("select speed");
const QString optimized =
    QStringLiteral("Your system has been optimized for the fastest Internet Connection "
                   "possible.\r\nYou must reboot your computer for the changes to take effect.");
const QString alreadyOptimized = QStringLiteral("You System is already optimzed.");

struct TcpValues {
    QString mtu;
    QString mss;
    QString receiveWindow;
    QString ttl;
};

void store(Registry &registry, const QString &keyPath, const QString &name, const QString &text)
{
    QCOMPARE(modRegistry::WriteValue(registry, QStringLiteral("HKLM"), keyPath, name,
                                     QStringLiteral("S"), text),
             modRegistry::Done);
}

void storeAll(Registry &registry, const TcpValues &values)
{
    store(registry, netTransKey, QStringLiteral("MaxMTU"), values.mtu);
    store(registry, netTransKey, QStringLiteral("MaxMSS"), values.mss);
    store(registry, mstcpKey, QStringLiteral("DefaultRcvWindow"), values.receiveWindow);
    store(registry, mstcpKey, QStringLiteral("DefaultTTL"), values.ttl);
}

QString stored(Registry &registry, const QString &keyPath, const QString &name)
{
    modRegistry::Value result;
    modRegistry::ReadValue(registry, QStringLiteral("HKLM"), keyPath, name, QStringLiteral("S"),
                           QStringLiteral("(missing)"), result);
    return modRegistry::toText(result);
}

// The five values as the store holds them, in the order they are written.
QStringList storedFive(Registry &registry)
{
    return {stored(registry, netTransKey, QStringLiteral("MaxMTU")),
            stored(registry, netKey, QStringLiteral("IPMTU")),
            stored(registry, netTransKey, QStringLiteral("MaxMSS")),
            stored(registry, mstcpKey, QStringLiteral("DefaultRcvWindow")),
            stored(registry, mstcpKey, QStringLiteral("DefaultTTL"))};
}

QStringList currentOf(const frmmain &w)
{
    return {w.CMTU->text(), w.CMSS->text(), w.CRWIN->text(), w.CTTL->text()};
}

QStringList recommendedOf(const frmmain &w)
{
    return {w.mtu->text(), w.MSS->text(), w.RWIN->text(), w.TTL->text()};
}

// What the list does when the user picks one of its items.
void pick(frmmain &w, const QString &speed)
{
    const int index = w.Combo1->findText(speed);
    QVERIFY(index >= 0);
    w.Combo1->setCurrentIndex(index);
    emit w.Combo1->activated(index);
}

void setStoreWritable(TestRig &rig, bool writable)
{
    const auto readable = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QVERIFY(QFile::setPermissions(rig.registry().fileName(),
                                  writable ? readable | QFileDevice::WriteOwner : readable));
}

// A new run of the program on the registry store that the given run left.
std::unique_ptr<TestRig> nextStart(TestRig &previous)
{
    auto next = std::make_unique<TestRig>();
    const QString file = next->registry().fileName();
    [&] {
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        QVERIFY(QFile::copy(previous.registry().fileName(), file));
    }();
    return next;
}

} // namespace

class OptimizerTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { rig = std::make_unique<TestRig>(); }
    void cleanup() { rig.reset(); }

    void startUpShowsTheStoredValuesOrNotSet()
    {
        store(rig->registry(), netTransKey, QStringLiteral("MaxMTU"), QStringLiteral("1500"));
        store(rig->registry(), mstcpKey, QStringLiteral("DefaultTTL"), QStringLiteral("64"));
        frmmain &w = rig->window();
        QCOMPARE(currentOf(w),
                 QStringList({QStringLiteral("1500"), notSet, notSet, QStringLiteral("64")}));
        QCOMPARE(recommendedOf(w), QStringList(4, selectSpeed));
    }

    void theAdaptersMtuStandsInOnlyAfterAPick()
    {
        store(rig->registry(), netKey, QStringLiteral("IPMTU"), QStringLiteral("1400"));
        frmmain &w = rig->window();
        QCOMPARE(w.CMTU->text(), notSet);
        pick(w, QStringLiteral("28.8 Kbps"));
        QCOMPARE(w.CMTU->text(), QStringLiteral("1400"));
        // A stored "MaxMTU" wins over it.
        store(rig->registry(), netTransKey, QStringLiteral("MaxMTU"), QStringLiteral("1500"));
        pick(w, QStringLiteral("33.6 Kbps"));
        QCOMPARE(w.CMTU->text(), QStringLiteral("1500"));
    }

    void optimizeBeforeAPickAsksForASpeed()
    {
        frmmain &w = rig->window();
        // Typing a speed is no pick.
        QTest::keyClicks(w.Combo1->lineEdit(), QStringLiteral("56.6 Kbps"));
        QTest::mouseClick(w.Command12, Qt::LeftButton);
        QCOMPARE(rig->dialogs.shown.size(), 1);
        const auto &box = rig->dialogs.shown.first();
        QCOMPARE(box.prompt, QStringLiteral("Please choose you appropriate modem speed first."));
        QCOMPARE(box.style, 64);
        QCOMPARE(box.title, QStringLiteral("Quorrel"));
        QVERIFY(!QFile::exists(rig->registry().fileName()));
    }

    void eachSpeedRecommendsItsValues_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("receiveWindow");
        QTest::newRow("28.8") << QStringLiteral("28.8 Kbps") << QStringLiteral("2144");
        QTest::newRow("33.6") << QStringLiteral("33.6 Kbps") << QStringLiteral("3216");
        QTest::newRow("56.6") << QStringLiteral("56.6 Kbps") << QStringLiteral("4388");
    }

    void eachSpeedRecommendsItsValues()
    {
        QFETCH(QString, speed);
        QFETCH(QString, receiveWindow);
        frmmain &w = rig->window();
        pick(w, speed);
        QCOMPARE(recommendedOf(w), QStringList({QStringLiteral("576"), QStringLiteral("536"),
                                                receiveWindow, QStringLiteral("128")}));
        QCOMPARE(rig->dialogs.shown.size(), 0);
        QVERIFY(!QFile::exists(rig->registry().fileName()));
    }

    void onlyAnItemOfTheListIsAPick()
    {
        frmmain &w = rig->window();
        for (const QString &typed : {QStringLiteral("56.6 kbps"), QStringLiteral("56.6 Kbps "),
                                     QStringLiteral("Select Speed")}) {
            w.Combo1->setEditText(typed);
            w.Combo1_Click();
            QCOMPARE(recommendedOf(w), QStringList(4, selectSpeed));
        }
        // The keyboard picks items too.
        w.Combo1->setCurrentIndex(0);
        QTest::keyClick(w.Combo1, Qt::Key_Down);
        QCOMPARE(w.RWIN->text(), QStringLiteral("3216"));
    }

    void optimizeWritesAllFiveThenHasNothingToDo()
    {
        frmmain &w = rig->window();
        pick(w, QStringLiteral("56.6 Kbps"));
        QTest::mouseClick(w.Command12, Qt::LeftButton);
        const QStringList profile{QStringLiteral("576"), QStringLiteral("536"),
                                  QStringLiteral("4388"), QStringLiteral("128")};
        QCOMPARE(storedFive(rig->registry()),
                 QStringList({QStringLiteral("576"), QStringLiteral("576"), QStringLiteral("536"),
                              QStringLiteral("4388"), QStringLiteral("128")}));
        QCOMPARE(currentOf(w), profile);
        QCOMPARE(rig->dialogs.shown.size(), 1);
        QCOMPARE(rig->dialogs.shown.last().prompt, optimized);
        QCOMPARE(rig->dialogs.shown.last().style, 48);
        QCOMPARE(rig->dialogs.shown.last().title, QStringLiteral("Quorrel"));

        // Any write now would fail and warn.
        setStoreWritable(*rig, false);
        w.Command12_Click();
        QCOMPARE(rig->dialogs.shown.size(), 2);
        QCOMPARE(rig->dialogs.shown.last().prompt, alreadyOptimized);
        QCOMPARE(rig->dialogs.shown.last().style, 64);
        QCOMPARE(rig->dialogs.shown.last().title, QStringLiteral("Quorrel"));

        // Another speed changes only the receive window, and all five are written again.
        setStoreWritable(*rig, true);
        pick(w, QStringLiteral("28.8 Kbps"));
        QCOMPARE(recommendedOf(w), QStringList({QStringLiteral("576"), QStringLiteral("536"),
                                                QStringLiteral("2144"), QStringLiteral("128")}));
        QCOMPARE(currentOf(w), profile);
        w.Command12_Click();
        QCOMPARE(rig->dialogs.shown.last().prompt, optimized);
        QCOMPARE(w.CRWIN->text(), QStringLiteral("2144"));
        QCOMPARE(stored(rig->registry(), mstcpKey, QStringLiteral("DefaultRcvWindow")),
                 QStringLiteral("2144"));
    }

    void aNewStartShowsTheOptimizedValues()
    {
        frmmain &w = rig->window();
        pick(w, QStringLiteral("56.6 Kbps"));
        w.Command12_Click();
        const auto next = nextStart(*rig);
        frmmain &restarted = next->window();
        QCOMPARE(currentOf(restarted),
                 QStringList({QStringLiteral("576"), QStringLiteral("536"), QStringLiteral("4388"),
                              QStringLiteral("128")}));
        QCOMPARE(recommendedOf(restarted), QStringList(4, selectSpeed));
    }

    void anyDifferenceWritesAllFive_data()
    {
        QTest::addColumn<QString>("maxMtu");
        QTest::addColumn<QString>("maxMss");
        QTest::newRow("only the MSS") << QStringLiteral("576") << QStringLiteral("1460");
        QTest::newRow("a trailing blank") << QStringLiteral("576 ") << QStringLiteral("536");
    }

    void anyDifferenceWritesAllFive()
    {
        QFETCH(QString, maxMtu);
        QFETCH(QString, maxMss);
        storeAll(rig->registry(), {maxMtu, maxMss, QStringLiteral("4388"), QStringLiteral("128")});
        frmmain &w = rig->window();
        pick(w, QStringLiteral("56.6 Kbps"));
        w.Command12_Click();
        QCOMPARE(rig->dialogs.shown.size(), 1);
        QCOMPARE(rig->dialogs.shown.first().prompt, optimized);
        // "IPMTU" was not stored before: it shows that all five were written.
        QCOMPARE(storedFive(rig->registry()),
                 QStringList({QStringLiteral("576"), QStringLiteral("576"), QStringLiteral("536"),
                              QStringLiteral("4388"), QStringLiteral("128")}));
        QCOMPARE(w.CMTU->text(), QStringLiteral("576"));
    }

    void aFailingWriteWarnsAndShowsWhatIsStored()
    {
        storeAll(rig->registry(), {QStringLiteral("1500"), QStringLiteral("1460"),
                                   QStringLiteral("8760"), QStringLiteral("64")});
        frmmain &w = rig->window();
        pick(w, QStringLiteral("56.6 Kbps"));
        // Another program changes a value, the store becomes read-only, and the
        // user types over the speed: the page must still show what is stored.
        store(rig->registry(), netTransKey, QStringLiteral("MaxMTU"), QStringLiteral("1000"));
        setStoreWritable(*rig, false);
        w.Combo1->setEditText(QStringLiteral("my modem"));

        w.Command12_Click();
        QCOMPARE(rig->dialogs.shown.size(), 1);
        const auto &box = rig->dialogs.shown.first();
        QVERIFY2(box.prompt.startsWith(u"The recommended values could not be written"),
                 qPrintable(box.prompt));
        QVERIFY2(box.prompt.contains(u"read-only"), qPrintable(box.prompt));
        QCOMPARE(box.style, 48);
        QCOMPARE(box.title, QStringLiteral("Quorrel"));
        QCOMPARE(currentOf(w), QStringList({QStringLiteral("1000"), QStringLiteral("1460"),
                                            QStringLiteral("8760"), QStringLiteral("64")}));
        QCOMPARE(stored(rig->registry(), netKey, QStringLiteral("IPMTU")),
                 QStringLiteral("(missing)"));
    }

private:
    std::unique_ptr<TestRig> rig;
};

QTEST_MAIN(OptimizerTest)
#include "test_optimizer.moc"
