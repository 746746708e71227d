// What a new user meets first: the speed box, the host list's selection, the
// keyboard, the tray menu, the status line and the close question.

#include "platform/Clock.h"
#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

namespace
{

// Shows every text as a translator gets it: one unit to a translation.
struct MarkingTranslator final : QTranslator {
    bool isEmpty() const override { return false; }
    QString translate(const char *, const char *text, const char *, int) const override
    {
        return u'<' + QString::fromUtf8(text) + u'>';
    }
};

void clickRow(QListWidget *list, int row, Qt::KeyboardModifiers modifiers = {})
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                      list->visualItemRect(list->item(row)).center());
}

// Runs `whileOpen` on the popup menu or modal box as soon as it is up.
void whenUp(const std::function<void(QWidget *)> &whileOpen)
{
    QTimer::singleShot(0, [whileOpen] {
        QWidget *up = QApplication::activePopupWidget();
        up = up ? up : QApplication::activeModalWidget();
        whileOpen(up);
        up->hide(); // whatever the test found
    });
}

} // namespace

class FirstMinutesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;

    void showPage(int index, const QStringList &hosts = {u"a.test"_s, u"b.test"_s, u"c.test"_s})
    {
        for (qsizetype i = 0; i < hosts.size(); ++i)
            rig->settings().write(u"Quorrel"_s, u"options"_s, u"host%1"_s.arg(i), hosts[i]);
        QVERIFY(!rig->settings().commit());
        w = &rig->window();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTabBar *tabs = w->SSTab1->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
    }

private slots:
    void init() { rig = std::make_unique<TestRig>(); }
    void cleanup() { rig.reset(); }

    void aTypedSpeedIsNoPick()
    {
        showPage(3);
        for (const auto &[typed, then] : {std::pair{u"2"_s, Qt::Key_Return}, // completed
                                          {u"56.6 KBPS"_s, Qt::Key_Tab},
                                          {u"33.6 Kbps"_s, Qt::Key_End}}) { // left by a click
            QTest::mouseClick(w->Combo1->lineEdit(), Qt::LeftButton);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(QApplication::focusWidget(), typed);
            QTest::keyClick(QApplication::focusWidget(), then);
            QTest::mouseClick(w->Command12, Qt::LeftButton);
            QCOMPARE(rig->dialogs.shown.last().prompt,
                     u"Please choose you appropriate modem speed first."_s);
        }
        QVERIFY(!QFile::exists(rig->registry().fileName()));
    }

    void removeAndEditTakeTheHighlightedRow_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("taken");
        QTest::newRow("click beside the rows") << u"beside"_s << -1;
        QTest::newRow("Ctrl+click on the row") << u"ctrl"_s << -1;
        QTest::newRow("screen reader selects") << u"reader"_s << 2;
    }

    void removeAndEditTakeTheHighlightedRow()
    {
        QFETCH(QString, how);
        QFETCH(int, taken);
        showPage(1);
        QListWidget *list = w->List1;
        const auto select = [&] {
            if (how == u"reader")
                QAccessible::queryAccessibleInterface(list)->tableInterface()->selectRow(2);
            else
                clickRow(list, 1);
            if (how == u"ctrl")
                clickRow(list, 1, Qt::ControlModifier);
            if (how == u"beside")
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  list->viewport()->rect().bottomLeft() + QPoint(5, -5));
        };
        select();
        rig->dialogs.answerInputBox(u"new.test"_s);
        QTest::mouseClick(w->Command7, Qt::LeftButton); // Edit
        QCOMPARE(rig->dialogs.shown.size(), taken < 0 ? 0 : 1);
        select();
        QTest::mouseClick(w->Command6, Qt::LeftButton); // Remove
        QStringList rows{u"a.test"_s, u"b.test"_s, u"c.test"_s};
        if (taken >= 0)
            rows.removeAt(taken);
        QCOMPARE(list->count(), rows.size());
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(list->item(i)->text(), rows[i]);
    }

    void anAddedHostComesIntoView()
    {
        showPage(1, QStringList(40, u"old.test"_s));
        QListWidget *list = w->List1;
        clickRow(list, 0);
        rig->dialogs.answerInputBox(u"new.test"_s);
        QTest::mouseClick(w->Command5, Qt::LeftButton);
        QVERIFY(list->viewport()->rect().contains(list->visualItemRect(list->item(40))));
        QCOMPARE(list->selectedItems(), QList{list->item(0)});
    }

    void tabLeavesTheAboutText()
    {
        showPage(4);
        const QString about = w->Text2->toPlainText();
        QTest::mouseClick(w->Text2->viewport(), Qt::LeftButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w->Command4);
        QCOMPARE(w->Text2->toPlainText(), about);
    }

    void onlyTheLeftButtonChoosesATrayItem()
    {
        showPage(0);
        w->totray();
        QSignalSpy stops(w->stop1, &QAction::triggered);
        whenUp([&](QWidget *menu) {
            const auto at = [menu](QAction *item) {
                return qobject_cast<QMenu *>(menu)->actionGeometry(item).center();
            };
            QTest::mouseClick(menu, Qt::RightButton, {}, at(w->stop1));
            QTest::mouseClick(menu, Qt::LeftButton, {}, at(w->open));
        });
        rig->tray.click(Tray::RightButtonUp);
        QCOMPARE(stops.count(), 0);
        QVERIFY(w->isVisible());
    }

    void theStatusTimeHasSecondsAndNoZone()
    {
        for (const auto &[locale, shape] : {std::pair{"en_US", uR"(^\d\d?:\d\d:\d\d [AP]M$)"_s},
                                            {"zh_CN", uR"(^\d\d:\d\d:\d\d$)"_s},     // zone first
                                            {"es_ES", uR"(^\d\d?:\d\d:\d\d$)"_s}}) { // "(UTC)"
            QLocale::setDefault(QLocale(QLatin1StringView(locale)));
            const QString shown = SystemClock().timeOfDay();
            QVERIFY2(QRegularExpression(shape).match(shown).hasMatch(), qPrintable(shown));
        }
        QLocale::setDefault(QLocale::system());
    }

    void aDocumentIsJudgedAsReceived()
    {
        LocalHttpServer server; // a byte-order mark, then a line break and a page
        showPage(0, {server.address(u"/page?hex=efbbbf0a3c68746d6c3e"_s)});
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(w->Label2->text(), u"Status: successfully connected at 12:34"_s);
    }

    void aTranslatorGetsWholeSentences()
    {
        LocalHttpServer server;
        MarkingTranslator marking;
        QCoreApplication::installTranslator(&marking);
        showPage(0, {server.address(u"/html"_s), server.address(u"/missing"_s)});
        QStringList shown{w->Label5->text()};
        QTest::mouseClick(w->Command1, Qt::LeftButton); // succeeds
        shown << w->Label1->text() << w->Label2->text() << w->Label3->text();
        w->Timer1_Timer(); // fails
        shown << w->Label1->text() << w->Label2->text() << w->Label4->text();
        QCoreApplication::removeTranslator(&marking);
        const QRegularExpression oneUnit(uR"(^<[^<>]*>$)"_s);
        for (const QString &text : shown)
            QVERIFY2(oneUnit.match(text).hasMatch(), qPrintable(text));
    }

    void theCloseQuestionWantsAnAnswer()
    {
        QtDialogs dialogs;
        frmmain window({&dialogs, &rig->tray, &rig->shell, &rig->settings(), &rig->inet,
                        &rig->clock, &rig->random, &rig->registry()});
        window.show();
        QSignalSpy unloaded(&window, &frmmain::unloaded);
        bool stayedUp = false;
        whenUp([&](QWidget *box) {
            QTest::keyClick(box, Qt::Key_Escape);
            box->windowHandle()->close(); // as the title bar's close box does
            stayedUp = box->isVisible() && unloaded.isEmpty();
            qobject_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->click();
        });
        QTest::mouseClick(window.Command2, Qt::LeftButton);
        QVERIFY(stayedUp);
        QCOMPARE(unloaded.count(), 1);
        QVERIFY(QFile::exists(rig->settings().fileName(u"Quorrel"_s))); // Yes saved
    }
};

QTEST_MAIN(FirstMinutesTest)
#include "test_first_minutes.moc"
