// The shown window driven as a user drives it: keys, clicks, the tray icon,
// the host list's boxes, closing, the status line, and what screen readers,
// translators and eyes get.

#include "app/FittingLabel.h"
#include "platform/Clock.h"
#include "settings_snapshots.h"
#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

using namespace Qt::StringLiterals;

namespace
{

// Runs `whileOpen` on the popup menu or modal box as soon as it is up.
void whenUp(const std::function<void(QWidget *)> &whileOpen)
{
    QTimer::singleShot(0, [whileOpen] {
        QWidget *up = QApplication::activePopupWidget();
        whileOpen(up ? up : QApplication::activeModalWidget());
    });
}

// Picks the open menu's item `n` with the keyboard.
void pick(QWidget *menu, int n)
{
    for (int i = 0; i <= n; ++i)
        QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
}

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

// The box around what a control draws on its background, in its parent's
// coordinates.
QRectF inkOf(QWidget *control)
{
    const QImage image = control->grab().toImage();
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != image.pixel(0, 0))
                ink |= QRect(x, y, 1, 1);
    const qreal ratio = image.devicePixelRatio();
    return QRectF(QPointF(ink.topLeft()) / ratio, QSizeF(ink.size()) / ratio)
        .translated(control->pos());
}

// How a row of a table checks what the window shows.
using Look = std::function<void(frmmain *)>;

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
        QCOMPARE(w->windowTitle(), u"Quorrel"_s);
        QVERIFY(w->minimumSize() == w->maximumSize() &&
                !(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(SettingsSnapshot::of(*w), SettingsSnapshot{.hosts = defaultHosts()});
        QVERIFY(w->Command1->isEnabled() && !w->Command3->isEnabled() && !w->Timer1->isActive());
        QVERIFY(!w->Check1->isChecked());
        QVERIFY(!w->start->isChecked() && w->stop1->isChecked() && !w->cnk->isVisible());
        QCOMPARE(w->Label1->text() + w->Label2->text() + w->Label3->text() + w->Label4->text() +
                     w->Label5->text(),
                 u"Remote Host: Status: Successful Connections: Failed Connections: Connect every "
                 u"1 minute(s)"_s);
        QVERIFY(rig->dialogs.boxes.isEmpty());
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
        // Tab leaves the About text instead of typing into it.
        w->SSTab1->setCurrentIndex(4);
        const QString about = w->Text2->toPlainText();
        QTest::mouseClick(w->Text2->viewport(), Qt::LeftButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w->Command4);
        QCOMPARE(w->Text2->toPlainText(), about);
    }

    // Also run at 150 and 200 % (QT_SCALE_FACTOR).
    void everyControlShowsWhole_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<Look>("look");
        QTest::newRow("named, captions whole") << -1 << Look([](frmmain *w) {
            for (int page = 0; page < w->SSTab1->count(); ++page) {
                w->SSTab1->setCurrentIndex(page);
                const QStringList unnamed =
                    unnamedControls(QAccessible::queryAccessibleInterface(w));
                QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u' ')));
                for (FittingLabel *label : w->findChildren<FittingLabel *>())
                    QVERIFY2(!label->isVisible() || label->drawnText() == label->text(),
                             qPrintable(label->objectName()));
            }
            QCOMPARE(QAccessible::queryAccessibleInterface(w->CMTU)->text(QAccessible::Name),
                     w->CMTU->text());
        });
        QTest::newRow("circles and boxes whole") << 2 << Look([](frmmain *w) {
            for (QAbstractButton *button : w->findChildren<QAbstractButton *>()) {
                QStyleOptionButton option;
                option.initFrom(button);
                const auto part = qobject_cast<QRadioButton *>(button)
                                      ? QStyle::SE_RadioButtonIndicator
                                      : QStyle::SE_CheckBoxIndicator;
                const QRect mark = button->style()->subElementRect(part, &option, button);
                QVERIFY2(qobject_cast<QPushButton *>(button) || button->rect().contains(mark),
                         qPrintable(button->objectName()));
            }
        });
        QTest::newRow("version centred under the logo") << 0 << Look([](frmmain *w) {
            // Less than half a letter off, as the drawings of each density differ.
            const QRectF logo = inkOf(w->Image1), version = inkOf(w->Label21);
            const qreal halfALetter = w->Label21->fontMetrics().averageCharWidth() / 2.0;
            QVERIFY2(qAbs(version.center().x() - logo.center().x()) < halfALetter,
                     qPrintable(u"%1 %2"_s.arg(version.center().x()).arg(logo.center().x())));
            QVERIFY(version.top() - logo.bottom() >= w->Label21->fontMetrics().height() / 4.0);
        });
        QTest::newRow("About text without a scroll bar") << 4 << Look([](frmmain *w) {
            QVERIFY(w->Text2->isVisible() && !w->Text2->toPlainText().isEmpty());
            QVERIFY(!w->Text2->verticalScrollBar()->isVisible());
        });
    }

    void everyControlShowsWhole()
    {
        QFETCH(int, page);
        QFETCH(Look, look);
        if (page >= 0)
            w->SSTab1->setCurrentIndex(page);
        QCoreApplication::processEvents();
        look(w);
    }

    void sliderKeysChooseOneToThirtyMinutes()
    {
        const auto press = [&](Qt::Key key) {
            QTest::keyClick(w->Slider1, key);
            return w->Label5->text().remove(u"Connect every "_s).toUtf8();
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
        QCOMPARE(rig->tray.tip, u"Quorrel"_s);
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
        QSignalSpy stops(w->stop1, &QAction::triggered);
        whenUp([&](QWidget *up) {
            auto *menu = qobject_cast<QMenu *>(up);
            for (QAction *item : menu->actions())
                items.append(item->text());
            rig->tray.click(Tray::LeftDoubleClick);
            QVERIFY(!w->isVisible());
            rig->tray.click(Tray::RightButtonUp); // no second menu inside the first
            // The right button chooses nothing. The choice is made by keys:
            // offscreen, some Qt versions let no synthetic click choose.
            QTest::mouseClick(menu, Qt::RightButton, {}, menu->actionGeometry(w->stop1).center());
            menu->setActiveAction(w->open);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        rig->tray.click(Tray::RightButtonUp);
        QCOMPARE(stops.count(), 0);
        QCOMPARE(items.join(u','), u"Start,Stop,Open Quorrel,Close Quorrel"_s);
        QVERIFY(w->isVisible() && !rig->tray.shown);
        QTest::mouseClick(w->Command9, Qt::LeftButton);
        QCOMPARE(rig->tray.adds, 2);
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
            whenUp([](QWidget *menu) { pick(menu, 3); });
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
        QCOMPARE(rig->dialogs.boxes, boxes);
        QCOMPARE(shownDuringQuestion, how == u"button");
        QCOMPARE(unloaded.size(), int(!saveFails));
        QCOMPARE(w->isVisible(), saveFails);
        QCOMPARE(rig->tray.shown, false);
        QCOMPARE(storedOptions(rig->settingsFile()).value(u"host0"_s),
                 answer == Dialogs::Yes && !saveFails ? defaultHosts().first() : QString());
    }

    void homepageOpensTheBrowserSilently()
    {
        rig->shell.succeeds = false;
        QTest::mouseClick(w->Command4, Qt::LeftButton);
        QCOMPARE(rig->shell.opened.size(), 1);
        QVERIFY(rig->shell.opened.first().startsWith(u"https://"));
        QVERIFY(rig->dialogs.boxes.isEmpty());
    }

    void hostList_data()
    {
        // The host clicked (none if empty), then how it was deselected or
        // selected otherwise: "beside" the rows, "ctrl"+click, by a screen "reader".
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after"); // a to e: the hosts before; *: the typed text
        QTest::addColumn<int>("selectedAfter");
        const QString add = u"Command5"_s, remove = u"Command6"_s, edit = u"Command7"_s,
                      blank = u" "_s;
        const auto row = [](const char *name, const char *selected, const QString &button,
                            const QString &typed, const char *after, int selectedAfter) {
            QTest::newRow(name) << QString::fromLatin1(selected) << button << typed
                                << QString::fromLatin1(after) << selectedAfter;
        };
        row("add", "b", add, u"new.example"_s, "abcde*", 4);
        row("add cancelled", "", add, QString(), "abcde", 4);
        row("add one blank", "", add, blank, "abcde", 4);
        row("add 27 blanks", "", add, blank.repeated(27), "abcde", 4);
        row("add 28 blanks", "", add, blank.repeated(28), "abcde*", 4);
        row("add blanks, a tab", "", add, blank.repeated(3) + u'\t', "abcde", 4);
        row("add 27 blanks, a tab", "", add, blank.repeated(27) + u'\t', "abcde*", 4);
        row("add a tab first", "", add, u"\thost"_s, "abcde", 4);
        row("add blanks around", "", add, u"  bücher  "_s, "abcde*", 4);
        row("add a duplicate", "", add, u"c"_s, "abcde*", 4);
        row("remove", "c", remove, QString(), "abde", -1);
        row("remove the last", "e", remove, QString(), "abcd", -1);
        row("remove, none selected", "", remove, QString(), "abcde", -1);
        row("remove, clicked beside", "b beside", remove, QString(), "abcde", -1);
        row("remove, Ctrl+click", "b ctrl", remove, QString(), "abcde", -1);
        row("remove, reader selects", "c reader", remove, QString(), "abde", -1);
        row("edit", "a", edit, u"first"_s, "*bcde", -1);
        row("edit, same text", "d", edit, u"d"_s, "abcde", -1);
        row("edit, none selected", "", edit, u"x"_s, "abcde", -1);
        row("edit, clicked beside", "b beside", edit, u"x"_s, "abcde", 1);
        row("edit, Ctrl+click", "b ctrl", edit, u"x"_s, "abcde", 1);
        row("edit, reader selects", "c reader", edit, u"x"_s, "ab*de", -1);
        row("edit cancelled", "b", edit, QString(), "abcde", 4);
        row("edit 30 blanks", "b", edit, blank.repeated(30), "abcde", 4);
        row("edit 31 blanks", "b", edit, blank.repeated(31), "a*cde", -1);
    }

    void hostList()
    {
        QFETCH(QString, selected);
        QFETCH(QString, button);
        QFETCH(QString, typed);
        QFETCH(QString, after);
        QFETCH(int, selectedAfter);
        startWith("host0=a\nhost1=b\nhost2=c\nhost3=d\nhost4=e\n");
        QTest::keyClick(w, Qt::Key_H, Qt::AltModifier);
        QListWidget *list = w->List1;
        const int row = selected.isEmpty() ? -1 : selected[0].unicode() - u'a';
        if (selected.endsWith(u"reader"))
            QAccessible::queryAccessibleInterface(list)->tableInterface()->selectRow(row);
        else if (row >= 0)
            clickRow(list, row);
        if (selected.endsWith(u"ctrl"))
            clickRow(list, row, Qt::ControlModifier);
        if (selected.endsWith(u"beside"))
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->viewport()->rect().bottomLeft() + QPoint(5, -5));
        // While the box is open, a connection attempt selects the last host.
        rig->dialogs.answerInputBox(typed, [list] { list->setCurrentRow(4); });
        QTest::mouseClick(w->findChild<QPushButton *>(button), Qt::LeftButton);

        QStringList hosts;
        for (const QChar host : after)
            hosts.append(host == u'*' ? typed : QString(host));
        QCOMPARE(SettingsSnapshot::of(*w).hosts, hosts);
        QCOMPARE(list->currentRow(), selectedAfter);
        QStringList boxes;
        if (button == u"Command5")
            boxes.append(QStringLiteral("0 | Add Remote Host | Please type the address of the "
                                        "remote host you would like to add. | "));
        else if (button == u"Command7" && row >= 0 &&
                 (!selected.contains(u' ') || selected.endsWith(u"reader")))
            boxes.append(QStringLiteral("0 | Edit a Remote Host | If you would like to change "
                                        "this host, please type new address. | ") +
                         selected[0]);
        QCOMPARE(rig->dialogs.boxes, boxes);
    }

    void anAddedHostComesIntoView()
    {
        QByteArray hosts;
        for (int row = 0; row < 40; ++row)
            hosts += "host" + QByteArray::number(row) + "=old\n";
        startWith(hosts);
        QListWidget *list = w->List1;
        clickRow(list, 0);
        rig->dialogs.answerInputBox(u"new.example"_s);
        QTest::mouseClick(w->Command5, Qt::LeftButton);
        QVERIFY(list->viewport()->rect().contains(list->visualItemRect(list->item(40))));
        QCOMPARE(list->selectedItems(), QList{list->item(0)});
    }

    void aTypedSpeedIsNoPick()
    {
        w->SSTab1->setCurrentIndex(3);
        for (const auto &[typed, then] : {std::pair{u"2"_s, Qt::Key_Return}, // completed
                                          {u"56.6 KBPS"_s, Qt::Key_Tab},
                                          {u"33.6 Kbps"_s, Qt::Key_End}}) { // left by a click
            QTest::mouseClick(w->Combo1->lineEdit(), Qt::LeftButton);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(QApplication::focusWidget(), typed);
            QTest::keyClick(QApplication::focusWidget(), then);
            QTest::mouseClick(w->Command12, Qt::LeftButton);
            QCOMPARE(rig->lastPrompt(), u"Please choose you appropriate modem speed first."_s);
        }
        QVERIFY(!QFile::exists(rig->registry().fileName()));
    }

    void theStatusTimeHasSecondsAndNoZone()
    {
        for (const auto &[locale, shape] :
             // A space before PM, plain or narrow as locale data has it.
             {std::pair{"en_US", QStringLiteral(R"(^\d\d?:\d\d:\d\d[ \x{202F}][AP]M$)")},
              {"zh_CN", QStringLiteral(R"(^\d\d:\d\d:\d\d$)")},     // zone first
              {"es_ES", QStringLiteral(R"(^\d\d?:\d\d:\d\d$)")}}) { // "(UTC)"
            QLocale::setDefault(QLocale(QLatin1StringView(locale)));
            const QString shown = SystemClock().timeOfDay();
            QVERIFY2(QRegularExpression(shape).match(shown).hasMatch(), qPrintable(shown));
        }
        QLocale::setDefault(QLocale::system());
    }

    // The first host's document starts with a byte-order mark, as received.
    void aTranslatorGetsWholeSentences()
    {
        LocalHttpServer server;
        MarkingTranslator marking;
        QCoreApplication::installTranslator(&marking);
        startWith("host0=" + server.address(u"/page?hex=efbbbf0a3c68746d6c3e"_s).toUtf8() +
                  "\nhost1=" + server.address(u"/missing"_s).toUtf8());
        QStringList shown{w->Label5->text()};
        QTest::mouseClick(w->Command1, Qt::LeftButton); // succeeds
        shown << w->Label1->text() << w->Label3->text();
        const QString status = w->Label2->text();
        w->Timer1_Timer(); // fails
        shown << w->Label1->text() << w->Label2->text() << w->Label4->text();
        QCoreApplication::removeTranslator(&marking);
        QCOMPARE(status, u"<Status: successfully connected at %1>"_s.arg(rig->clock.time));
        const QRegularExpression oneUnit(QStringLiteral(R"(^<[^<>]*>$)"));
        for (const QString &text : shown)
            QVERIFY2(oneUnit.match(text).hasMatch(), qPrintable(text));
    }

    // Escape and the title bar's close box do not answer the close question.
    void theCloseQuestionWantsAnAnswer()
    {
        QtDialogs dialogs;
        frmmain window({&dialogs, &rig->tray, &rig->shell, &rig->settings(), &rig->inet,
                        &rig->clock, &rig->random, &rig->registry(), &rig->tcpip});
        window.show();
        QSignalSpy unloaded(&window, &frmmain::unloaded);
        bool stayedUp = false;
        whenUp([&](QWidget *box) {
            QTest::keyClick(box, Qt::Key_Escape);
            box->windowHandle()->close();
            stayedUp = box->isVisible() && unloaded.isEmpty();
            qobject_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->click();
        });
        QTest::mouseClick(window.Command2, Qt::LeftButton);
        QVERIFY(stayedUp);
        QCOMPARE(unloaded.count(), 1);
        QVERIFY(QFile::exists(rig->settingsFile())); // Yes saved
    }

    // Each paint of a very long host measures only what can show.
    void aVeryLongHostDoesNotHoldUpThePaint()
    {
        w->Label1->setText(u"Remote Host: "_s + QString(1'000'000, u'w'));
        const QDeadlineTimer deadline(3000);
        for (int paint = 0; paint < 3 && !deadline.hasExpired(); ++paint)
            static_cast<void>(w->Label1->grab());
        QVERIFY(!deadline.hasExpired());
    }

    void anEditedLongHostComesBackWhole()
    {
        QtDialogs dialogs;
        const QString host = u"www.example.org/"_s + QString(40'000, u'p');
        whenUp([](QWidget *box) { QTest::keyClick(box, Qt::Key_Return); });
        QCOMPARE(dialogs.InputBox(u"Edit"_s, u"Quorrel"_s, host), host);
    }

private:
    // A start on a settings file holding these options, the window shown.
    void startWith(const QByteArray &options)
    {
        rig = std::make_unique<TestRig>(options.isEmpty() ? QByteArray() : "[options]\n" + options);
        w = &rig->window();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
    }

    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
