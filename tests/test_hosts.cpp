// Editing the host list with Add, Remove and Edit.

#include "support/TestRig.h"

#include <QListWidget>
#include <QTest>

namespace
{

QStringList hostsOf(const QListWidget *list)
{
    QStringList hosts;
    for (int i = 0; i < list->count(); ++i)
        hosts.append(list->item(i)->text());
    return hosts;
}

QString blanks(int count)
{
    return QString(count, QLatin1Char(' '));
}

} // namespace

class HostsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        rig = std::make_unique<TestRig>();
        w = &rig->window();
        w->List1->clear();
        w->List1->addItems({QStringLiteral("a.example"), QStringLiteral("b.example"),
                            QStringLiteral("c.example"), QStringLiteral("d.example"),
                            QStringLiteral("e.example")});
        before = hostsOf(w->List1);
    }
    void cleanup() { rig.reset(); }

    void defaultHostsOnAFirstStart()
    {
        TestRig fresh;
        const QStringList hosts = hostsOf(fresh.window().List1);
        QCOMPARE(hosts.size(), 8);
        QCOMPARE(hosts.first(), QStringLiteral("www.mit.edu"));
        for (int i = 0; i < 5; ++i)
            QVERIFY2(hosts[i].endsWith(u".edu") || hosts[i].endsWith(u".ac.uk"),
                     qPrintable(hosts[i]));
        for (int i = 5; i < 8; ++i)
            QVERIFY2(hosts[i].endsWith(u".com"), qPrintable(hosts[i]));
    }

    void addShowsItsBoxAndAppends()
    {
        w->List1->setCurrentRow(1);
        rig->dialogs.answerInputBox(QStringLiteral("new.example"));
        w->Command5_Click();
        QCOMPARE(rig->dialogs.shown.size(), 1);
        const auto &box = rig->dialogs.shown.first();
        QCOMPARE(box.kind, QStringLiteral("InputBox"));
        QCOMPARE(
            box.prompt,
            QStringLiteral("Please type the address of the remote host you would like to add."));
        QCOMPARE(box.title, QStringLiteral("Add Remote Host"));
        QCOMPARE(box.defaultText, QString());
        QCOMPARE(hostsOf(w->List1), before + QStringList{QStringLiteral("new.example")});
        QCOMPARE(w->List1->currentRow(), 1); // the selection is not changed
    }

    void addAcceptanceThreshold_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("appended");
        QTest::newRow("cancel or empty") << QString() << false;
        QTest::newRow("27 blanks") << blanks(27) << false;
        QTest::newRow("28 blanks") << blanks(28) << true;
        QTest::newRow("one blank") << blanks(1) << false;
        QTest::newRow("leading blanks kept") << QStringLiteral("  host.example") << true;
        QTest::newRow("trailing blanks kept") << QStringLiteral("host.example  ") << true;
        QTest::newRow("blanks then a tab") << blanks(3) + QLatin1Char('\t') << false;
        QTest::newRow("27 blanks then a tab") << blanks(27) + QLatin1Char('\t') << true;
        QTest::newRow("a tab first") << QStringLiteral("\thost") << false;
        QTest::newRow("the duplicate") << QStringLiteral("c.example") << true;
        QTest::newRow("non-ASCII") << QStringLiteral("bücher.example") << true;
    }

    void addAcceptanceThreshold()
    {
        QFETCH(QString, typed);
        QFETCH(bool, appended);
        rig->dialogs.answerInputBox(typed);
        w->Command5_Click();
        QCOMPARE(hostsOf(w->List1), appended ? before + QStringList{typed} : before);
    }

    void addCancelled()
    {
        rig->dialogs.cancelInputBox();
        w->Command5_Click();
        QCOMPARE(hostsOf(w->List1), before);
    }

    void removeTheSelectedEntry()
    {
        w->List1->setCurrentRow(2);
        w->Command6_Click();
        QCOMPARE(hostsOf(w->List1),
                 (QStringList{QStringLiteral("a.example"), QStringLiteral("b.example"),
                              QStringLiteral("d.example"), QStringLiteral("e.example")}));
        QCOMPARE(w->List1->currentRow(), -1);
        QVERIFY(w->List1->selectedItems().isEmpty());
        QVERIFY(rig->dialogs.shown.isEmpty());
    }

    void removeWithNothingSelectedOrAnEmptyList()
    {
        w->List1->setCurrentRow(-1);
        w->Command6_Click();
        QCOMPARE(hostsOf(w->List1), before);
        w->List1->clear();
        w->Command6_Click();
        QCOMPARE(w->List1->count(), 0);
        QVERIFY(rig->dialogs.shown.isEmpty());
    }

    void removeTheLastEntryLeavesNothingSelected()
    {
        w->List1->setCurrentRow(4);
        w->Command6_Click();
        QCOMPARE(w->List1->count(), 4);
        QCOMPARE(w->List1->currentRow(), -1);
    }

    void editWithNothingSelectedShowsNoBox()
    {
        w->List1->setCurrentRow(-1);
        w->Command7_Click();
        QVERIFY(rig->dialogs.shown.isEmpty());
        QCOMPARE(hostsOf(w->List1), before);
    }

    void editReplacesInPlace()
    {
        w->List1->setCurrentRow(0);
        rig->dialogs.answerInputBox(QStringLiteral("first.example"));
        w->Command7_Click();
        const auto &box = rig->dialogs.shown.first();
        QCOMPARE(box.prompt,
                 QStringLiteral("If you would like to change this host, please type new address."));
        QCOMPARE(box.title, QStringLiteral("Edit a Remote Host"));
        QCOMPARE(box.defaultText, QStringLiteral("a.example"));
        QStringList expected = before;
        expected[0] = QStringLiteral("first.example");
        QCOMPARE(hostsOf(w->List1), expected);
        QCOMPARE(w->List1->currentRow(), -1);
    }

    void editOkOnTheUnchangedText()
    {
        w->List1->setCurrentRow(3);
        rig->dialogs.answerInputBox(QStringLiteral("d.example"));
        w->Command7_Click();
        QCOMPARE(hostsOf(w->List1), before);
        QCOMPARE(w->List1->currentRow(), -1);
    }

    void editAcceptanceThreshold_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("cancel or empty") << QString() << false;
        QTest::newRow("30 blanks") << blanks(30) << false;
        QTest::newRow("31 blanks") << blanks(31) << true;
        QTest::newRow("28 blanks, enough to add") << blanks(28) << false;
    }

    void editAcceptanceThreshold()
    {
        QFETCH(QString, typed);
        QFETCH(bool, replaced);
        w->List1->setCurrentRow(1);
        rig->dialogs.answerInputBox(typed);
        w->Command7_Click();
        QStringList expected = before;
        if (replaced)
            expected[1] = typed;
        QCOMPARE(hostsOf(w->List1), expected);
        // A refused edit leaves the selection alone.
        QCOMPARE(w->List1->currentRow(), replaced ? -1 : 1);
    }

    void editKeepsItsPositionWhenTheSelectionMoves()
    {
        w->List1->setCurrentRow(1);
        // While the box is open a connection attempt selects another host.
        rig->dialogs.answerInputBox(QStringLiteral("moved.example"),
                                    [this] { w->List1->setCurrentRow(4); });
        w->Command7_Click();
        QStringList expected = before;
        expected[1] = QStringLiteral("moved.example");
        QCOMPARE(hostsOf(w->List1), expected);
    }

private:
    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
    QStringList before;
};

QTEST_MAIN(HostsTest)
#include "test_hosts.moc"
