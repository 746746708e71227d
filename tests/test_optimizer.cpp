// The TCP/IP page: current values, the speed pick and "&Optimize".

#include "optimizer/modRegistry.h"
#include "support/TestRig.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace
{

const QString optimized = u"Your system has been optimized for the fastest Internet Connection "
                          u"possible.\r\nYou must reboot your computer for the changes to take "
                          u"effect."_s;
// The page's four values (MTU, MSS, receive window, TTL) and the adapter's MTU.
const QStringList for56k{u"576"_s, u"536"_s, u"4388"_s, u"128"_s, u"576"_s};
const QString tcp = u"System\\CurrentControlSet\\Services\\"_s;
const std::pair<QString, QString> places[] = {{tcp + u"Class\\NetTrans\\0000"_s, u"MaxMTU"_s},
                                              {tcp + u"Class\\NetTrans\\0000"_s, u"MaxMSS"_s},
                                              {tcp + u"Vxd\\MSTCP"_s, u"DefaultRcvWindow"_s},
                                              {tcp + u"Vxd\\MSTCP"_s, u"DefaultTTL"_s},
                                              {tcp + u"Class\\Net\\0000"_s, u"IPMTU"_s}};

// Stores the values given, "-" standing for none, and gives back all five as stored.
QStringList stored(Registry &registry, const QStringList &values = {})
{
    QStringList now;
    for (qsizetype i = 0; i < 5; ++i) {
        const auto &[key, name] = places[i];
        if (values.value(i, u"-"_s) != u"-")
            modRegistry::WriteValue(registry, u"HKLM"_s, key, name, u"S"_s, values[i]);
        modRegistry::Value result;
        modRegistry::ReadValue(registry, u"HKLM"_s, key, name, u"S"_s, u"-"_s, result);
        now.append(modRegistry::toText(result));
    }
    return now;
}

// The page's current and recommended values.
QStringList page(const frmmain &w)
{
    return {w.CMTU->text(), w.CMSS->text(), w.CRWIN->text(), w.CTTL->text(),
            w.mtu->text(),  w.MSS->text(),  w.RWIN->text(),  w.TTL->text()};
}

// What the list does when the user picks one of its items.
void pick(frmmain &w, const QString &speed)
{
    w.Combo1->setCurrentIndex(w.Combo1->findText(speed));
    emit w.Combo1->activated(w.Combo1->currentIndex());
}

} // namespace

class OptimizerTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { rig = std::make_unique<TestRig>(); }

    void eachSpeedRecommendsItsValues()
    {
        // The adapter's MTU stands in for a missing "MaxMTU", but only after a pick.
        stored(rig->registry(), {u"-"_s, u"-"_s, u"-"_s, u"64"_s, u"1400"_s});
        frmmain &w = rig->window();
        const QString no = u"Not Set"_s, speed = u"select speed"_s;
        QCOMPARE(page(w), (QStringList{no, no, no, u"64"_s, speed, speed, speed, speed}));
        for (const auto &[item, window] :
             std::initializer_list<std::pair<QString, QString>>{{u"28.8 Kbps"_s, u"2144"_s},
                                                                {u"33.6 Kbps"_s, u"3216"_s},
                                                                {u"56.6 Kbps"_s, u"4388"_s}}) {
            pick(w, item);
            QCOMPARE(page(w), (QStringList{u"1400"_s, no, no, u"64"_s, u"576"_s, u"536"_s, window,
                                           u"128"_s}));
        }
        QCOMPARE(rig->dialogs.shown.size(), 0);
        stored(rig->registry(), {u"1500"_s});
        pick(w, u"28.8 Kbps"_s);
        QCOMPARE(w.CMTU->text(), u"1500"_s);
    }

    void onlyAnItemOfTheListIsAPick()
    {
        frmmain &w = rig->window();
        for (const QString &typed : {u"56.6 kbps"_s, u"56.6 Kbps "_s, u"Select Speed"_s}) {
            w.Combo1->setEditText(typed);
            w.Combo1_Click();
        }
        QTest::keyClicks(w.Combo1->lineEdit(), u"56.6 Kbps"_s);
        QCOMPARE(w.RWIN->text(), u"select speed"_s);
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

    void optimizeWritesAllFiveWhereverOneDiffers()
    {
        // Each differs from the 56.6 Kbps values in one place; the adapter's MTU is missing.
        for (const QStringList &before :
             std::initializer_list<QStringList>{{},
                                                {u"576"_s, u"1460"_s, u"4388"_s, u"128"_s},
                                                {u"576 "_s, u"536"_s, u"4388"_s, u"128"_s},
                                                {u"576"_s, u"536"_s, u"4388"_s, u"64"_s},
                                                {u"576"_s, u"536"_s, u"4387"_s, u"128"_s}}) {
            TestRig fresh;
            stored(fresh.registry(), before);
            frmmain &w = fresh.window();
            pick(w, u"56.6 Kbps"_s);
            QTest::mouseClick(w.Command12, Qt::LeftButton);
            QCOMPARE(fresh.dialogs.shown.size(), 1);
            QCOMPARE(fresh.dialogs.shown[0].prompt, optimized);
            QCOMPARE(fresh.dialogs.shown[0].style, 48);
            QCOMPARE(stored(fresh.registry()), for56k);
            QCOMPARE(page(w).mid(0, 4), for56k.mid(0, 4));
        }
    }

    void thenThereIsNothingToDoUntilAnotherSpeed()
    {
        frmmain &w = rig->window();
        pick(w, u"56.6 Kbps"_s);
        w.Command12->click();
        // Any write now would fail and warn.
        QVERIFY(QFile::setPermissions(rig->registry().fileName(), QFileDevice::ReadOwner));
        w.Command12->click();
        QCOMPARE(rig->dialogs.shown.size(), 2);
        QCOMPARE(rig->dialogs.shown[1].prompt, u"You System is already optimzed."_s);
        QCOMPARE(rig->dialogs.shown[1].style, 64);
        // The next start shows what was written.
        TestRig next;
        QVERIFY(QDir().mkpath(QFileInfo(next.registry().fileName()).path()));
        QVERIFY(QFile::copy(rig->registry().fileName(), next.registry().fileName()));
        QCOMPARE(page(next.window()).mid(0, 4), for56k.mid(0, 4));
    }

    void aFailingWriteWarnsAndShowsWhatIsStored()
    {
        const QStringList handTuned{u"1500"_s, u"1460"_s, u"8760"_s, u"64"_s};
        stored(rig->registry(), handTuned);
        frmmain &w = rig->window();
        pick(w, u"56.6 Kbps"_s);
        // Another program changes a value, the store becomes read-only, and the
        // user types over the speed: the page must still show what is stored.
        stored(rig->registry(), {u"1000"_s});
        QVERIFY(QFile::setPermissions(rig->registry().fileName(), QFileDevice::ReadOwner));
        w.Combo1->setEditText(u"my modem"_s);
        w.Command12->click();
        QCOMPARE(rig->dialogs.shown.size(), 1);
        const auto &box = rig->dialogs.shown[0];
        QVERIFY2(box.prompt.startsWith(u"The recommended values could not be written: access "
                                       u"was denied; the registry store may be read-only"),
                 qPrintable(box.prompt));
        QCOMPARE(box.style, 48);
        QCOMPARE(page(w).mid(0, 4), QStringList{u"1000"_s} + handTuned.mid(1));
    }

private:
    std::unique_ptr<TestRig> rig;
};

QTEST_MAIN(OptimizerTest)
#include "test_optimizer.moc"
