// The TCP/IP page: current values, the speed picked from the list and "&Optimize".

#include "support/TestRig.h"

using namespace Qt::StringLiterals;

namespace
{

const QString notSet = u"Not Set"_s;
// MaxMTU, MaxMSS, DefaultRcvWindow, DefaultTTL, then the adapter's IPMTU.
const QStringList for56k{u"576"_s, u"536"_s, u"4388"_s, u"128"_s, u"576"_s};
const QString optimized =
    u"Your system has been optimized for the fastest Internet Connection possible."_s;

// Sets the values given ("-" for none) and gives back all five as the system holds them.
QStringList stored(MemoryTcpIp &system, const QStringList &values = {})
{
    QStringList now;
    for (qsizetype i = 0; i < 5; ++i) {
        const auto which = static_cast<tcpip::Setting>(i);
        if (values.value(i, u"-"_s) != u"-")
            system.values[which] = values[i].toLongLong();
        now.append(system.value(which) ? QString::number(*system.value(which)) : u"-"_s);
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
        stored(rig.tcpip, {u"-"_s, u"-"_s, u"-"_s, u"64"_s, u"1400"_s});
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

    // Each system differs from the 56.6 Kbps values in one place; the link's MTU is missing.
    void optimizeWritesAllFiveWhereverOneDiffers()
    {
        for (const QStringList &before :
             std::initializer_list<QStringList>{{},
                                                {u"576"_s, u"1460"_s, u"4388"_s, u"128"_s},
                                                {u"576"_s, u"536"_s, u"4388"_s, u"64"_s},
                                                {u"576"_s, u"536"_s, u"4387"_s, u"128"_s}}) {
            TestRig rig;
            stored(rig.tcpip, before);
            frmmain &w = rig.window();
            rig.optimizeFor(u"56.6 Kbps"_s);
            QCOMPARE(stored(rig.tcpip), for56k);
            QCOMPARE(page(w).mid(0, 4), for56k.mid(0, 4));
            // Then there is nothing to do: a write now would fail and warn.
            rig.tcpip.refusal = u"refused"_s;
            QTest::mouseClick(w.Command12, Qt::LeftButton);
            QCOMPARE(rig.dialogs.boxes,
                     (QStringList{u"48 | Quorrel | %1 | "_s.arg(optimized),
                                  u"64 | Quorrel | You System is already optimzed. | "_s}));
        }
    }

    void aFailingWriteWarnsAndShowsWhatIsStored()
    {
        TestRig rig;
        const QStringList handTuned{u"1500"_s, u"1460"_s, u"8760"_s, u"64"_s};
        stored(rig.tcpip, handTuned);
        frmmain &w = rig.window();
        rig.pickSpeed(u"56.6 Kbps"_s);
        // Another program changes a value, the authorization is refused, and the
        // user types over the speed: the page must still show what the system holds.
        stored(rig.tcpip, {u"1000"_s});
        rig.tcpip.refusal = u"the authorization was refused"_s;
        w.Combo1->setEditText(u"my modem"_s);
        QTest::mouseClick(w.Command12, Qt::LeftButton);
        QCOMPARE(rig.dialogs.boxes,
                 QStringList{u"48 | Quorrel | The recommended values could not "
                             u"be written: the authorization was refused. | "_s});
        QCOMPARE(page(w).mid(0, 4), QStringList{u"1000"_s} + handTuned.mid(1));
    }

    void theRunningSystem_data()
    {
        QTest::addColumn<QString>("told");
        QTest::addColumn<QStringList>("shown"); // at the next start
        QTest::newRow("refused") << u"The recommended values could not be written: the "
                                    u"authorization was cancelled."_s
                                 << QStringList(4, notSet);
        QTest::newRow("noAgent") << u"The recommended values could not be written: no "
                                    u"authentication agent is running to ask for the password."_s
                                 << QStringList(4, notSet);
        QTest::newRow("direct") << optimized << for56k.mid(0, 4);
    }

    // Run by tcpip/tcpip-test.sh in its namespace: "refused" and "noAgent" without
    // the right to change the network, with a pkexec that refuses or finds no
    // agent to ask, "direct" with that right.
    void theRunningSystem()
    {
        QFETCH(QString, told);
        QFETCH(QStringList, shown);
        const QString helper = qEnvironmentVariable("QUORREL_TCPIP_HELPER");
        if (helper.isEmpty())
            QSKIP("runs in the namespace of tcpip-test.sh");
        SystemTcpIp system(helper);
        TestRig rig, restarted;
        rig.system = restarted.system = &system;
        QCOMPARE(rig.optimizeFor(u"56.6 Kbps"_s), told);
        QCOMPARE(rig.dialogs.boxes.size(), 1);
        QCOMPARE(page(restarted.window()).mid(0, 4), shown);
    }
};

QTEST_MAIN(OptimizerTest)
#include "test_optimizer.moc"
