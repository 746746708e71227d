// The TCP/IP page: current values, the speed picked from the list and "&Optimize".

#include "optimizer/modRegistry.h"
#include "support/TestRig.h"

using namespace Qt::StringLiterals;

namespace
{

const QString notSet = u"Not Set"_s;
// MaxMTU, MaxMSS, DefaultRcvWindow, DefaultTTL, then the adapter's IPMTU.
const QStringList for56k{u"576"_s, u"536"_s, u"4388"_s, u"128"_s, u"576"_s};

// Stores the values given ("-" for none) and gives back all five as stored.
QStringList stored(Registry &registry, const QStringList &values = {})
{
    const QString tcp = u"System\\CurrentControlSet\\Services\\"_s;
    const QString netTrans = tcp + u"Class\\NetTrans\\0000"_s, mstcp = tcp + u"Vxd\\MSTCP"_s;
    const std::pair<QString, QString> places[] = {{netTrans, u"MaxMTU"_s},
                                                  {netTrans, u"MaxMSS"_s},
                                                  {mstcp, u"DefaultRcvWindow"_s},
                                                  {mstcp, u"DefaultTTL"_s},
                                                  {tcp + u"Class\\Net\\0000"_s, u"IPMTU"_s}};
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

// The page's current values, then the recommended ones.
QStringList page(const frmmain &w)
{
    return {w.CMTU->text(), w.CMSS->text(), w.CRWIN->text(), w.CTTL->text(),
            w.mtu->text(),  w.MSS->text(),  w.RWIN->text(),  w.TTL->text()};
}

} // namespace

class OptimizerTest : public QObject
{
    Q_OBJECT

private slots:
    void eachSpeedRecommendsItsValues()
    {
        TestRig rig;
        // The adapter's MTU stands in for a missing "MaxMTU", but only after a pick.
        stored(rig.registry(), {u"-"_s, u"-"_s, u"-"_s, u"64"_s, u"1400"_s});
        frmmain &w = rig.window();
        const QString speed = u"select speed"_s;
        QCOMPARE(page(w),
                 (QStringList{notSet, notSet, notSet, u"64"_s, speed, speed, speed, speed}));
        for (const auto &[item, window] : {std::pair{u"28.8 Kbps"_s, u"2144"_s},
                                           {u"33.6 Kbps"_s, u"3216"_s},
                                           {u"56.6 Kbps"_s, u"4388"_s}}) {
            rig.pickSpeed(item);
            QCOMPARE(page(w), (QStringList{u"1400"_s, notSet, notSet, u"64"_s, u"576"_s, u"536"_s,
                                           window, u"128"_s}));
        }
        // The arrow keys on the closed list pick too.
        w.Combo1->setCurrentIndex(0);
        QTest::keyClick(w.Combo1, Qt::Key_Down);
        QCOMPARE(w.RWIN->text(), u"3216"_s);
        QVERIFY(rig.dialogs.boxes.isEmpty());
    }

    // Each store differs from the 56.6 Kbps values in one place; the adapter's MTU is missing.
    void optimizeWritesAllFiveWhereverOneDiffers()
    {
        const QString optimized = u"Your system has been optimized for the fastest Internet "
                                  u"Connection possible.\r\nYou must reboot your computer for "
                                  u"the changes to take effect."_s;
        for (const QStringList &before :
             std::initializer_list<QStringList>{{},
                                                {u"576"_s, u"1460"_s, u"4388"_s, u"128"_s},
                                                {u"576 "_s, u"536"_s, u"4388"_s, u"128"_s},
                                                {u"576"_s, u"536"_s, u"4388"_s, u"64"_s},
                                                {u"576"_s, u"536"_s, u"4387"_s, u"128"_s}}) {
            TestRig rig;
            stored(rig.registry(), before);
            frmmain &w = rig.window();
            rig.optimizeFor(u"56.6 Kbps"_s);
            QCOMPARE(stored(rig.registry()), for56k);
            QCOMPARE(page(w).mid(0, 4), for56k.mid(0, 4));
            // Then there is nothing to do: a write now would fail and warn.
            QVERIFY(QFile::setPermissions(rig.registry().fileName(), QFileDevice::ReadOwner));
            QTest::mouseClick(w.Command12, Qt::LeftButton);
            QCOMPARE(rig.dialogs.boxes,
                     (QStringList{u"48 | Quorrel | %1 | "_s.arg(optimized),
                                  u"64 | Quorrel | You System is already optimzed. | "_s}));
            // The next start shows what was written.
            QCOMPARE(page(TestRig({}, fileBytes(rig.registry().fileName())).window()).mid(0, 4),
                     for56k.mid(0, 4));
        }
    }

    void aFailingWriteWarnsAndShowsWhatIsStored()
    {
        TestRig rig;
        const QStringList handTuned{u"1500"_s, u"1460"_s, u"8760"_s, u"64"_s};
        stored(rig.registry(), handTuned);
        frmmain &w = rig.window();
        rig.pickSpeed(u"56.6 Kbps"_s);
        // Another program changes a value, the store becomes read-only, and the
        // user types over the speed: the page must still show what is stored.
        stored(rig.registry(), {u"1000"_s});
        QVERIFY(QFile::setPermissions(rig.registry().fileName(), QFileDevice::ReadOwner));
        w.Combo1->setEditText(u"my modem"_s);
        QTest::mouseClick(w.Command12, Qt::LeftButton);
        QCOMPARE(rig.dialogs.boxes,
                 QStringList{u"48 | Quorrel | The recommended values could not be written: access "
                             u"was denied; the registry store may be read-only. | "_s});
        QCOMPARE(page(w).mid(0, 4), QStringList{u"1000"_s} + handTuned.mid(1));
    }
};

QTEST_MAIN(OptimizerTest)
#include "test_optimizer.moc"
