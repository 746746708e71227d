// The TCP/IP page: current values, the speed pick and "&Optimize".

#include "optimizer/modRegistry.h"
#include "support/TestRig.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace
{

const QString netTrans = u"System\\CurrentControlSet\\Services\\Class\\NetTrans\\0000"_s;
const QString net = u"System\\CurrentControlSet\\Services\\Class\\Net\\0000"_s;
const QString mstcp = u"System\\CurrentControlSet\\Services\\Vxd\\MSTCP"_s;
const QString notSet = u"Not Set"_s;
const QString optimized =
    u"Your system has been optimized for the fastest Internet Connection "
    u"possible.\r\nYou must reboot your computer for the changes to take effect."_s;
// The four values of the page as MTU, MSS, receive window and TTL.
const QStringList for56k{u"576"_s, u"536"_s, u"4388"_s, u"128"_s};
const QStringList handTuned{u"1500"_s, u"1460"_s, u"8760"_s, u"64"_s};

// Where the page's values live, the adapter's MTU last.
const QList<std::pair<QString, QString>> places{{netTrans, u"MaxMTU"_s},
                                                {netTrans, u"MaxMSS"_s},
                                                {mstcp, u"DefaultRcvWindow"_s},
                                                {mstcp, u"DefaultTTL"_s},
                                                {net, u"IPMTU"_s}};

void store(TestRig &rig, const QStringList &values)
{
    for (qsizetype i = 0; i < values.size(); ++i)
        QCOMPARE(modRegistry::WriteValue(rig.registry(), u"HKLM"_s, places[i].first,
                                         places[i].second, u"S"_s, values[i]),
                 0);
}

// The five values as the store holds them, the adapter's MTU last.
QStringList stored(TestRig &rig)
{
    QStringList values;
    for (const auto &[key, name] : places) {
        modRegistry::Value result;
        modRegistry::ReadValue(rig.registry(), u"HKLM"_s, key, name, u"S"_s, u"-"_s, result);
        values.append(modRegistry::toText(result));
    }
    return values;
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
    QFileDevice::Permissions mode = QFileDevice::ReadOwner;
    if (writable)
        mode |= QFileDevice::WriteOwner;
    QVERIFY(QFile::setPermissions(rig.registry().fileName(), mode));
}

} // namespace

class OptimizerTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { rig = std::make_unique<TestRig>(); }

    void theAdaptersMtuStandsInOnlyAfterAPick()
    {
        modRegistry::WriteValue(rig->registry(), u"HKLM"_s, net, u"IPMTU"_s, u"S"_s, u"1400"_s);
        modRegistry::WriteValue(rig->registry(), u"HKLM"_s, mstcp, u"DefaultTTL"_s, u"S"_s,
                                u"64"_s);
        frmmain &w = rig->window();
        QCOMPARE(currentOf(w), (QStringList{notSet, notSet, notSet, u"64"_s}));
        QCOMPARE(recommendedOf(w), QStringList(4, u"select speed"_s));
        pick(w, u"28.8 Kbps"_s);
        QCOMPARE(w.CMTU->text(), u"1400"_s);
        // A stored "MaxMTU" wins over it.
        modRegistry::WriteValue(rig->registry(), u"HKLM"_s, netTrans, u"MaxMTU"_s, u"S"_s,
                                u"1500"_s);
        pick(w, u"33.6 Kbps"_s);
        QCOMPARE(w.CMTU->text(), u"1500"_s);
    }

    void eachSpeedRecommendsItsValues_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("receiveWindow");
        QTest::newRow("28.8") << u"28.8 Kbps"_s << u"2144"_s;
        QTest::newRow("33.6") << u"33.6 Kbps"_s << u"3216"_s;
        QTest::newRow("56.6") << u"56.6 Kbps"_s << u"4388"_s;
    }

    void eachSpeedRecommendsItsValues()
    {
        QFETCH(QString, speed);
        QFETCH(QString, receiveWindow);
        frmmain &w = rig->window();
        pick(w, speed);
        QCOMPARE(recommendedOf(w), (QStringList{u"576"_s, u"536"_s, receiveWindow, u"128"_s}));
        QCOMPARE(rig->dialogs.shown.size(), 0);
        QVERIFY(!QFile::exists(rig->registry().fileName()));
    }

    void onlyAnItemOfTheListIsAPick()
    {
        frmmain &w = rig->window();
        for (const QString &typed : {u"56.6 kbps"_s, u"56.6 Kbps "_s, u"Select Speed"_s}) {
            w.Combo1->setEditText(typed);
            w.Combo1_Click();
        }
        QTest::keyClicks(w.Combo1->lineEdit(), u"56.6 Kbps"_s);
        QCOMPARE(recommendedOf(w), QStringList(4, u"select speed"_s));
        QTest::mouseClick(w.Command12, Qt::LeftButton);
        QCOMPARE(rig->dialogs.shown.size(), 1);
        QCOMPARE(rig->dialogs.shown[0].prompt,
                 u"Please choose you appropriate modem speed first."_s);
        QCOMPARE(rig->dialogs.shown[0].style, 64);
        QCOMPARE(rig->dialogs.shown[0].title, u"Quorrel"_s);
        QVERIFY(!QFile::exists(rig->registry().fileName()));
        // The keyboard picks items too.
        w.Combo1->setCurrentIndex(0);
        QTest::keyClick(w.Combo1, Qt::Key_Down);
        QCOMPARE(w.RWIN->text(), u"3216"_s);
    }

    void optimizeWritesAllFiveThenHasNothingToDo()
    {
        frmmain &w = rig->window();
        pick(w, u"56.6 Kbps"_s);
        QTest::mouseClick(w.Command12, Qt::LeftButton);
        QCOMPARE(stored(*rig), for56k + QStringList{u"576"_s});
        QCOMPARE(currentOf(w), for56k);
        QCOMPARE(rig->dialogs.shown.size(), 1);
        QCOMPARE(rig->dialogs.shown[0].prompt, optimized);
        QCOMPARE(rig->dialogs.shown[0].style, 48);
        // Any write now would fail and warn.
        setStoreWritable(*rig, false);
        w.Command12->click();
        QCOMPARE(rig->dialogs.shown.size(), 2);
        QCOMPARE(rig->dialogs.shown[1].prompt, u"You System is already optimzed."_s);
        QCOMPARE(rig->dialogs.shown[1].style, 64);
        // Another speed differs in the receive window only, and is written in full.
        setStoreWritable(*rig, true);
        pick(w, u"28.8 Kbps"_s);
        w.Command12->click();
        QCOMPARE(rig->dialogs.shown.last().prompt, optimized);
        QCOMPARE(w.CRWIN->text(), u"2144"_s);
        // The next start shows what was written.
        TestRig next;
        QVERIFY(QDir().mkpath(QFileInfo(next.registry().fileName()).path()));
        QVERIFY(QFile::copy(rig->registry().fileName(), next.registry().fileName()));
        QCOMPARE(currentOf(next.window()), (QStringList{u"576"_s, u"536"_s, u"2144"_s, u"128"_s}));
    }

    void anyDifferenceWritesAllFive_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::newRow("only the MSS") << QStringList{u"576"_s, u"1460"_s, u"4388"_s, u"128"_s};
        QTest::newRow("a trailing blank") << QStringList{u"576 "_s, u"536"_s, u"4388"_s, u"128"_s};
        QTest::newRow("only the TTL") << QStringList{u"576"_s, u"536"_s, u"4388"_s, u"64"_s};
    }

    void anyDifferenceWritesAllFive()
    {
        QFETCH(QStringList, before);
        store(*rig, before);
        frmmain &w = rig->window();
        pick(w, u"56.6 Kbps"_s);
        w.Command12->click();
        QCOMPARE(rig->dialogs.shown.size(), 1);
        QCOMPARE(rig->dialogs.shown[0].prompt, optimized);
        // The adapter's MTU was not stored before: all five were written.
        QCOMPARE(stored(*rig), for56k + QStringList{u"576"_s});
    }

    void aFailingWriteWarnsAndShowsWhatIsStored()
    {
        store(*rig, handTuned);
        frmmain &w = rig->window();
        pick(w, u"56.6 Kbps"_s);
        // Another program changes a value, the store becomes read-only, and the
        // user types over the speed: the page must still show what is stored.
        modRegistry::WriteValue(rig->registry(), u"HKLM"_s, netTrans, u"MaxMTU"_s, u"S"_s,
                                u"1000"_s);
        setStoreWritable(*rig, false);
        w.Combo1->setEditText(u"my modem"_s);
        w.Command12->click();
        QCOMPARE(rig->dialogs.shown.size(), 1);
        const auto &box = rig->dialogs.shown[0];
        QVERIFY2(box.prompt.startsWith(u"The recommended values could not be written"),
                 qPrintable(box.prompt));
        QVERIFY2(box.prompt.contains(u"read-only"), qPrintable(box.prompt));
        QCOMPARE(box.style, 48);
        QCOMPARE(currentOf(w), (QStringList{u"1000"_s} + handTuned.mid(1)));
        QCOMPARE(stored(*rig).last(), u"-"_s);
    }

private:
    std::unique_ptr<TestRig> rig;
};

QTEST_MAIN(OptimizerTest)
#include "test_optimizer.moc"
