// Hiding to the tray and coming back, the tray menu, closing, the home page.

#include "support/TestRig.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace
{

// Runs `whileOpen` as soon as the popup menu is up, then lets the menu end.
void whenMenuOpens(std::function<void(QMenu *)> whileOpen)
{
    QTimer::singleShot(0, [whileOpen = std::move(whileOpen)] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        whileOpen(menu);
        if (menu->isVisible())
            menu->close();
    });
}

} // namespace

class WindowCommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        rig = std::make_unique<TestRig>();
        w = &rig->window();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }
    void cleanup() { rig.reset(); }

    void trayHidesTheWindowBehindOneIcon()
    {
        QTest::mouseClick(w->Command9, Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QVERIFY(rig->tray.shown);
        QCOMPARE(rig->tray.tip, QStringLiteral("Quorrel"));
        QVERIFY(!rig->tray.icon.isNull());

        // Shown again by a double-click, the icon stays; a second "Tray" adds no
        // second icon.
        rig->tray.click(Tray::LeftDoubleClick);
        QVERIFY(w->isVisible());
        QVERIFY(rig->tray.shown);
        w->Command9_Click();
        QVERIFY(!w->isVisible());
        QCOMPARE(rig->tray.adds, 1);
    }

    void withoutATrayHostTheWindowIsMinimized()
    {
        rig->tray.available = false;
        w->Command9_Click();
        QVERIFY(w->isVisible());
        QVERIFY(w->isMinimized());
        QVERIFY(!rig->tray.shown);
    }

    void onlyADoubleClickOrTheRightButtonDoSomething_data()
    {
        QTest::addColumn<int>("message");
        QTest::newRow("left button up") << int(Tray::LeftButtonUp);
        QTest::newRow("left button down") << 513;
        QTest::newRow("mouse move") << 512;
        QTest::newRow("right button down") << 516;
    }

    void onlyADoubleClickOrTheRightButtonDoSomething()
    {
        QFETCH(int, message);
        w->totray();
        rig->tray.click(message);
        QVERIFY(!w->isVisible());
        QVERIFY(!QApplication::activePopupWidget());
    }

    void mouseMessageIsDecodedFromTwips()
    {
        w->totray();
        // 515 pixels and a little: rounds to the double-click.
        w->Form_MouseMove(0, 0, 515 * 15 + 7, 0);
        QVERIFY(w->isVisible());
        w->totray();
        // An ordinary move over the window: at most 380 pixels, nothing happens.
        w->Form_MouseMove(0, 0, 379 * 15, 40 * 15);
        QVERIFY(!w->isVisible());
    }

    void rightButtonPopsUpTheMenuAndOpenQuorrelRemovesTheIcon()
    {
        w->totray();
        QStringList items;
        whenMenuOpens([&](QMenu *menu) {
            QCOMPARE(menu, w->mnusystemtray);
            for (QAction *item : menu->actions())
                items.append(item->text());
            w->open->trigger();
        });
        rig->tray.click(Tray::RightButtonUp);
        QCOMPARE(items,
                 (QStringList{QStringLiteral("Start"), QStringLiteral("Stop"),
                              QStringLiteral("Open Quorrel"), QStringLiteral("Close Quorrel")}));
        QVERIFY(w->isVisible());
        QVERIFY(!rig->tray.shown);

        // "Tray" afterwards puts the icon back.
        w->Command9_Click();
        QVERIFY(rig->tray.shown);
        QCOMPARE(rig->tray.adds, 2);
    }

    void callbacksWhileTheMenuIsOpenAreIgnored()
    {
        w->totray();
        whenMenuOpens([&](QMenu *) {
            rig->tray.click(Tray::LeftDoubleClick);
            QVERIFY(!w->isVisible());
            rig->tray.click(Tray::RightButtonUp); // no second menu inside the first
        });
        rig->tray.click(Tray::RightButtonUp);
        QVERIFY(!w->isVisible());
        // Once the menu has closed, callbacks work again.
        rig->tray.click(Tray::LeftDoubleClick);
        QVERIFY(w->isVisible());
    }

    void trayMenuStopRunsTheStopOperation()
    {
        w->Command1->setEnabled(false);
        w->Command3->setEnabled(true);
        w->start->setChecked(true);
        w->stop1->setChecked(false);
        w->stop1->trigger();
        QVERIFY(w->Command1->isEnabled());
        QVERIFY(!w->Command3->isEnabled());
        QVERIFY(!w->start->isChecked());
        QVERIFY(w->stop1->isChecked());
    }

    void closeAsksToSaveAndNoEndsWithoutSaving()
    {
        QSignalSpy unloaded(w, &frmmain::unloaded);
        rig->dialogs.answerMsgBox(Dialogs::No);
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QCOMPARE(rig->dialogs.shown.size(), 1);
        const auto &box = rig->dialogs.shown.first();
        QCOMPARE(box.prompt, QStringLiteral("Would you like to save any changes before closing ?"));
        QCOMPARE(box.title, QStringLiteral("Quorrel Settings"));
        QCOMPARE(box.style, 36);
        QCOMPARE(unloaded.size(), 1);
        QVERIFY(!w->isVisible());
    }

    void closeYesSavesAndEnds()
    {
        QSignalSpy unloaded(w, &frmmain::unloaded);
        w->List1->clear();
        w->List1->addItem(QStringLiteral("kept.example"));
        rig->dialogs.answerMsgBox(Dialogs::Yes);
        w->Command2_Click();
        QCOMPARE(rig->dialogs.shown.size(), 1); // no message after the save
        QCOMPARE(unloaded.size(), 1);
        QCOMPARE(rig->settings().read(QStringLiteral("Quorrel"), QStringLiteral("options"),
                                      QStringLiteral("host0")),
                 QStringLiteral("kept.example"));
    }

    void closeYesWithAFailingSaveWarnsAndStaysOpen()
    {
        QSignalSpy unloaded(w, &frmmain::unloaded);
        // A folder where the settings file belongs: nobody can write the file.
        QVERIFY(QDir().mkpath(rig->settings().fileName(QStringLiteral("Quorrel"))));
        rig->dialogs.answerMsgBox(Dialogs::Yes);
        w->Command2_Click();
        QCOMPARE(rig->dialogs.shown.size(), 2);
        QCOMPARE(rig->dialogs.shown[1].style, 48);
        QCOMPARE(rig->dialogs.shown[1].title, QStringLiteral("Quorrel Settings"));
        QCOMPARE(unloaded.size(), 0);
        QVERIFY(w->isVisible());
    }

    void closeQuorrelFromTheTrayKeepsTheWindowHidden()
    {
        QSignalSpy unloaded(w, &frmmain::unloaded);
        w->totray();
        bool visibleDuringPrompt = true;
        rig->dialogs.answerMsgBox(Dialogs::No, [&] { visibleDuringPrompt = w->isVisible(); });
        w->close->trigger();
        QVERIFY(!visibleDuringPrompt);
        QCOMPARE(unloaded.size(), 1);
        QVERIFY(!rig->tray.shown);
    }

    void titleBarCloseEndsAtOnceAndRemovesTheIcon()
    {
        QSignalSpy unloaded(w, &frmmain::unloaded);
        w->totray();
        rig->tray.click(Tray::LeftDoubleClick);
        QVERIFY(rig->tray.shown);
        w->QWidget::close();
        QCOMPARE(unloaded.size(), 1);
        QVERIFY(rig->dialogs.shown.isEmpty());
        QVERIFY(!rig->tray.shown);
    }

    void homepageOpensTheBrowserSilently()
    {
        rig->shell.succeeds = false;
        QTest::mouseClick(w->Command4, Qt::LeftButton);
        QCOMPARE(rig->shell.opened.size(), 1);
        QVERIFY(rig->shell.opened.first().startsWith(u"https://"));
        QVERIFY(rig->dialogs.shown.isEmpty());
    }

    void theMenuIsOfferedToTrayHostsThatDrawTheirOwn()
    {
        QCOMPARE(rig->tray.offeredMenu, w->mnusystemtray);
    }

private:
    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
};

QTEST_MAIN(WindowCommandsTest)
#include "test_windowcommands.moc"
