// The shown window driven as a user drives it: keys, clicks, the tray icon,
// the host list's boxes, closing, and what screen readers and eyes get.

#include "app/FittingLabel.h"
#include "settings_snapshots.h"
#include "support/TestRig.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace
{

// Picks the menu's item `n` with the keyboard as soon as a popup menu is up,
// after `first` has run.
void whenMenuOpens(
    int n, std::function<void(QMenu *)> first = [](QMenu *) {})
{
    QTimer::singleShot(0, [n, first = std::move(first)] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        first(menu);
        for (int i = 0; i <= n; ++i)
            QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
}

QStringList unnamedControls(QAccessibleInterface *node)
{
    QStringList unnamed;
    const QAccessible::State state = node->state();
    if (state.focusable && !state.invisible && node->text(QAccessible::Name).isEmpty())
        unnamed.append(node->object()->objectName());
    for (int i = 0; i < node->childCount(); ++i)
        unnamed += unnamedControls(node->child(i));
    return unnamed;
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { startWith({}); }
    void cleanup()
    {
        rig.reset();
        QApplication::setPalette(QPalette());
    }

    void startUp()
    {
        QCOMPARE(w->windowTitle(), QStringLiteral("Quorrel"));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(SettingsSnapshot::of(*w), SettingsSnapshot{.hosts = defaultHosts()});
        QVERIFY(w->Command1->isEnabled() && !w->Command3->isEnabled() && !w->Timer1->isActive());
        QVERIFY(!w->start->isChecked() && w->stop1->isChecked() && !w->Check1->isChecked());
        QCOMPARE(w->Label1->text() + w->Label2->text() + w->Label3->text() + w->Label4->text(),
                 QStringLiteral("Remote Host: Status: Successful Connections: "
                                "Failed Connections: "));
        QCOMPARE(w->Label5->text(), QStringLiteral("Connect every 1 minute(s)"));
        QVERIFY(!w->cnk->isVisible());
        QVERIFY(rig->dialogs.shown.isEmpty());
    }

    void keyboard()
    {
        QTest::keyClick(w, Qt::Key_H, Qt::AltModifier);
        QCOMPARE(w->SSTab1->currentIndex(), 1);
        QTest::keyClick(w, Qt::Key_P, Qt::AltModifier);
        QCOMPARE(w->SSTab1->currentIndex(), 0);
        QTest::keyClick(w->SSTab1, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(w->SSTab1->currentIndex(), 1);
        // Tab goes through the controls in this order; the host list is for the
        // mouse.
        const QList<QWidget *> order = {w->SSTab1,   w->Command1,  w->Command3, w->Command9,
                                        w->Command2, w->Command5,  w->Command6, w->Command7,
                                        w->random1,  w->Command10, w->http,     w->ftp,
                                        w->Check1,   w->Text1,     w->Slider1,  w->Command8,
                                        w->Text2,    w->Command4,  w->Combo1,   w->Command12};
        for (qsizetype i = 0; i + 1 < order.size(); ++i) {
            QWidget *next = order[i]->nextInFocusChain();
            while (!order.contains(next))
                next = next->nextInFocusChain();
            QCOMPARE(next, order[i + 1]);
        }
        QVERIFY(!(w->List1->focusPolicy() & Qt::TabFocus));
    }

    // Also run at 150 and 200 % (QT_SCALE_FACTOR).
    void everyControlIsNamedAndShowsItsCaptionWhole()
    {
        for (int page = 0; page < w->SSTab1->count(); ++page) {
            w->SSTab1->setCurrentIndex(page);
            const QStringList unnamed = unnamedControls(QAccessible::queryAccessibleInterface(w));
            QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u' ')));
            for (FittingLabel *label : w->findChildren<FittingLabel *>())
                QVERIFY2(!label->isVisible() || label->drawnText() == label->text(),
                         qPrintable(label->objectName()));
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(w->CMTU)->text(QAccessible::Name),
                 w->CMTU->text());
    }

    void sliderKeysChooseOneToThirtyMinutes()
    {
        const auto press = [&](Qt::Key key) {
            QTest::keyClick(w->Slider1, key);
            return w->Label5->text().remove(QStringLiteral("Connect every ")).toUtf8();
        };
        QCOMPARE(press(Qt::Key_Right), "2 minute(s)");
        QCOMPARE(press(Qt::Key_End), "30 minute(s)");
        QCOMPARE(press(Qt::Key_Right), "30 minute(s)");
        press(Qt::Key_Home);
        QCOMPARE(press(Qt::Key_Left), "1 minute(s)");
    }

    void theProxyBoxStaysReadableInADarkTheme()
    {
        QPalette dark(QColor(0x20, 0x20, 0x20));
        dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
        dark.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
        QApplication::setPalette(dark);
        startWith("proxy=1\naddress=proxy.example\n");
        QCOMPARE(w->Text1->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(w->Text1->palette().color(QPalette::Text), QColor(Qt::black));
        QCOMPARE(w->CMTU->palette().color(QPalette::WindowText), QColor(Qt::green));
        // Unticking empties the box; ticking again does not bring the address back.
        w->Check1->click();
        QVERIFY(!w->Text1->isEnabled());
        w->Check1->click();
        QVERIFY(w->Text1->isEnabled() && w->Text1->text().isEmpty());
    }

    void onlyADoubleClickOnTheTrayIconBringsTheWindowBack()
    {
        QTest::mouseClick(w->Command9, Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QCOMPARE(rig->tray.tip, QStringLiteral("Quorrel"));
        // A single click, a press, a move, the right button's press.
        for (const int message : {Tray::LeftButtonUp, 513, 512, 516})
            rig->tray.click(message);
        QVERIFY(!w->isVisible() && !QApplication::activePopupWidget());
        rig->tray.click(Tray::LeftDoubleClick);
        QVERIFY(w->isVisible() && rig->tray.shown);
        QTest::mouseClick(w->Command9, Qt::LeftButton);
        QCOMPARE(rig->tray.adds, 1);
        // Without a tray host the window is minimized instead.
        rig->tray.click(Tray::LeftDoubleClick);
        rig->tray.remove();
        rig->tray.available = false;
        QTest::mouseClick(w->Command9, Qt::LeftButton);
        QVERIFY(w->isVisible() && w->isMinimized() && !rig->tray.shown);
    }

    void theTrayMenuIgnoresTheIconWhileOpen()
    {
        QCOMPARE(rig->tray.offeredMenu, w->mnusystemtray); // for hosts that draw it
        QTest::mouseClick(w->Command9, Qt::LeftButton);
        QStringList items;
        whenMenuOpens(2, [&](QMenu *menu) {
            for (QAction *item : menu->actions())
                items.append(item->text());
            rig->tray.click(Tray::LeftDoubleClick);
            QVERIFY(!w->isVisible());
            rig->tray.click(Tray::RightButtonUp); // no second menu inside the first
        });
        rig->tray.click(Tray::RightButtonUp);
        QCOMPARE(items.join(u','), QStringLiteral("Start,Stop,Open Quorrel,Close Quorrel"));
        QVERIFY(w->isVisible() && !rig->tray.shown);
        QTest::mouseClick(w->Command9, Qt::LeftButton);
        QCOMPARE(rig->tray.adds, 2);
    }

    void startAndStopFromTheTrayMenu()
    {
        startWith("host0=127.0.0.1:1\n"); // nothing listens there: a quick failure
        w->start->trigger();
        QCOMPARE(w->Label2->text(), QStringLiteral("Status: could not connect"));
        QVERIFY(!w->Command1->isEnabled() && w->Command3->isEnabled() && w->start->isChecked());
        QVERIFY(w->Timer1->isActive());
        QCOMPARE(w->Timer1->interval(), 59 * 1000);
        w->stop1->trigger();
        QVERIFY(w->Command1->isEnabled() && !w->Command3->isEnabled() && w->stop1->isChecked());
        QVERIFY(!w->Timer1->isActive());
        QCOMPARE(w->Label2->text(), QStringLiteral("Status: "));
    }

    void closing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("saveFails");
        QTest::newRow("Close, No") << "button" << int(Dialogs::No) << false;
        QTest::newRow("Close, Yes") << "button" << int(Dialogs::Yes) << false;
        QTest::newRow("Close, Yes, save fails") << "button" << int(Dialogs::Yes) << true;
        QTest::newRow("Close Quorrel, No") << "tray" << int(Dialogs::No) << false;
        QTest::newRow("title bar") << "title bar" << 0 << false;
    }

    void closing()
    {
        QFETCH(QString, how);
        QFETCH(int, answer);
        QFETCH(bool, saveFails);
        if (saveFails) // a folder where the file belongs
            QVERIFY(QDir().mkpath(rig->settingsFile()));
        QSignalSpy unloaded(w, &frmmain::unloaded);
        bool shownDuringQuestion = false;
        rig->dialogs.answerMsgBox(answer, [&] { shownDuringQuestion = w->isVisible(); });
        if (how == u"button") {
            QTest::mouseClick(w->Command2, Qt::LeftButton);
        } else if (how == u"tray") {
            QTest::mouseClick(w->Command9, Qt::LeftButton);
            whenMenuOpens(3);
            rig->tray.click(Tray::RightButtonUp);
        } else {
            w->QWidget::close();
        }
        QStringList boxes(how != u"title bar",
                          QStringLiteral("36 | Quorrel Settings | Would you like to save any "
                                         "changes before closing ? | "));
        if (saveFails)
            boxes.append(QStringLiteral("48 | Quorrel Settings | Your settings could not be "
                                        "saved.\n\nThere is a folder named %1 where the "
                                        "settings file belongs. | ")
                             .arg(rig->settingsFile()));
        QCOMPARE(rig->dialogs.boxes(), boxes);
        QCOMPARE(shownDuringQuestion, how == u"button");
        QCOMPARE(unloaded.size(), int(!saveFails));
        QCOMPARE(w->isVisible(), saveFails);
        QCOMPARE(rig->tray.shown, false);
        QCOMPARE(storedOptions(rig->settingsFile()).value(QStringLiteral("host0")),
                 answer == Dialogs::Yes && !saveFails ? defaultHosts().first() : QString());
    }

    void homepageOpensTheBrowserSilently()
    {
        rig->shell.succeeds = false;
        QTest::mouseClick(w->Command4, Qt::LeftButton);
        QCOMPARE(rig->shell.opened.size(), 1);
        QVERIFY(rig->shell.opened.first().startsWith(u"https://"));
        QVERIFY(rig->dialogs.shown.isEmpty());
    }

    void hostList_data()
    {
        QTest::addColumn<int>("selected"); // -1: none
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after"); // a to e: the hosts before; *: the typed text
        QTest::addColumn<int>("selectedAfter");
        const QString add = QStringLiteral("Command5"), remove = QStringLiteral("Command6"),
                      edit = QStringLiteral("Command7"), blank = QStringLiteral(" ");
        const auto row = [](const char *name, int selected, const QString &button,
                            const QString &typed, const char *after, int selectedAfter) {
            QTest::newRow(name) << selected << button << typed << QString::fromLatin1(after)
                                << selectedAfter;
        };
        row("add", 1, add, QStringLiteral("new.example"), "abcde*", 4);
        row("add cancelled", -1, add, QString(), "abcde", 4);
        row("add one blank", -1, add, blank, "abcde", 4);
        row("add 27 blanks", -1, add, blank.repeated(27), "abcde", 4);
        row("add 28 blanks", -1, add, blank.repeated(28), "abcde*", 4);
        row("add blanks, a tab", -1, add, blank.repeated(3) + u'\t', "abcde", 4);
        row("add 27 blanks, a tab", -1, add, blank.repeated(27) + u'\t', "abcde*", 4);
        row("add a tab first", -1, add, QStringLiteral("\thost"), "abcde", 4);
        row("add blanks around", -1, add, QStringLiteral("  bücher  "), "abcde*", 4);
        row("add a duplicate", -1, add, QStringLiteral("c"), "abcde*", 4);
        row("remove", 2, remove, QString(), "abde", -1);
        row("remove the last", 4, remove, QString(), "abcd", -1);
        row("remove, none selected", -1, remove, QString(), "abcde", -1);
        row("edit", 0, edit, QStringLiteral("first"), "*bcde", -1);
        row("edit, same text", 3, edit, QStringLiteral("d"), "abcde", -1);
        row("edit, none selected", -1, edit, QStringLiteral("x"), "abcde", -1);
        row("edit cancelled", 1, edit, QString(), "abcde", 4);
        row("edit 30 blanks", 1, edit, blank.repeated(30), "abcde", 4);
        row("edit 31 blanks", 1, edit, blank.repeated(31), "a*cde", -1);
    }

    void hostList()
    {
        QFETCH(int, selected);
        QFETCH(QString, button);
        QFETCH(QString, typed);
        QFETCH(QString, after);
        QFETCH(int, selectedAfter);
        startWith("host0=a\nhost1=b\nhost2=c\nhost3=d\nhost4=e\n");
        QTest::keyClick(w, Qt::Key_H, Qt::AltModifier);
        if (selected >= 0)
            QTest::mouseClick(w->List1->viewport(), Qt::LeftButton, {},
                              w->List1->visualItemRect(w->List1->item(selected)).center());
        // While the box is open, a connection attempt selects the last host.
        rig->dialogs.answerInputBox(typed, [this] { w->List1->setCurrentRow(4); });
        QTest::mouseClick(w->findChild<QPushButton *>(button), Qt::LeftButton);

        QStringList hosts;
        for (const QChar host : after)
            hosts.append(host == u'*' ? typed : QString(host));
        QCOMPARE(SettingsSnapshot::of(*w).hosts, hosts);
        QCOMPARE(w->List1->currentRow(), selectedAfter);
        QStringList boxes;
        if (button == u"Command5")
            boxes.append(QStringLiteral("0 | Add Remote Host | Please type the address of the "
                                        "remote host you would like to add. | "));
        else if (button == u"Command7" && selected >= 0)
            boxes.append(QStringLiteral("0 | Edit a Remote Host | If you would like to change "
                                        "this host, please type new address. | ") +
                         QChar(u'a' + selected));
        QCOMPARE(rig->dialogs.boxes(), boxes);
    }

private:
    // A start on a settings file holding these options, the window shown.
    void startWith(const QByteArray &options)
    {
        rig = std::make_unique<TestRig>(options.isEmpty() ? QByteArray() : "[options]\n" + options);
        w = &rig->window();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
