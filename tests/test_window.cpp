// The window as the user first sees it: its controls, their places and states,
// and what the load step put into them.

#include "support/TestRig.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace
{

QRect px(int left, int top, int width, int height)
{
    const auto p = [](int twips) { return (twips + 7) / 15; };
    return {p(left), p(top), p(width), p(height)};
}

QString captionOf(QWidget *control)
{
    if (auto *label = qobject_cast<QLabel *>(control))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(control))
        return button->text();
    if (auto *frame = qobject_cast<QGroupBox *>(control))
        return frame->title();
    return {};
}

} // namespace

class WindowTest : public QObject
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

    void windowIsAFixedCentredDialog()
    {
        QCOMPARE(w->windowTitle(), QStringLiteral("Quorrel"));
        QCOMPARE(w->size(), QSize(380, 216));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(w->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!w->windowIcon().isNull());
        const QRect screen = w->screen()->availableGeometry();
        QVERIFY(qAbs(w->geometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(w->geometry().center().y() - screen.center().y()) <= 1);
        QCOMPARE(w->SSTab1->geometry(), px(0, 90, 5700, 3150));
        QCOMPARE(w->SSTab1->currentIndex(), 0);
        const QStringList tabs = {QStringLiteral("&Program"), QStringLiteral("&Hosts"),
                                  QStringLiteral("Options"), QStringLiteral("QuorrelTune"),
                                  QStringLiteral("About")};
        QCOMPARE(w->SSTab1->count(), tabs.size());
        for (int i = 0; i < tabs.size(); ++i)
            QCOMPARE(w->SSTab1->tabText(i), tabs[i]);
    }

    void pageControls_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("container"); // "" for the tab control itself

        const auto row = [](int page, const char *name, const char *caption, QRect place,
                            const char *container = "") {
            QTest::newRow(name) << page << QString::fromLatin1(name) << QString::fromLatin1(caption)
                                << place << QString::fromLatin1(container);
        };
        row(0, "Image1", "", px(840, 480, 4185, 885));
        row(0, "Label21", "Quorrel 2.5", px(1980, 1305, 2130, 195));
        row(0, "Label1", "Remote Host: ", px(105, 1935, 4095, 195));
        row(0, "Label2", "Status: ", px(105, 2160, 4275, 195));
        row(0, "Label3", "Successful Connections: ", px(120, 2520, 3975, 195));
        row(0, "Label4", "Failed Connections: ", px(120, 2760, 4035, 255));
        row(0, "Command1", "&Start", px(4530, 1455, 1000, 345));
        row(0, "Command3", "&Stop", px(4530, 1860, 1000, 345));
        row(0, "Command9", "&Tray", px(4530, 2280, 1000, 345));
        row(0, "Command2", "&Close", px(4530, 2700, 1000, 345));
        row(1, "List1", "", px(120, 420, 5415, 1620));
        row(1, "Command5", "&Add", px(120, 2160, 975, 375));
        row(1, "Command6", "&Remove", px(1200, 2160, 975, 375));
        row(1, "Command7", "&Edit", px(2280, 2160, 1095, 375));
        row(1, "random1", "Connect to hosts at random", px(120, 2745, 2535, 255));
        row(1, "Command10", "&Save Settings", px(3960, 2700, 1635, 345));
        row(1, "Image2", "", px(4560, 2160, 480, 480));
        row(2, "Frame1", "Connection Method", px(120, 420, 1755, 975));
        row(2, "http", "HTTP", px(540, 660, 1155, 255));
        row(2, "ftp", "FTP", px(540, 1035, 1215, 195));
        row(2, "Frame2", "Proxy Setting", px(1980, 420, 3615, 975));
        row(2, "Check1", "Enable Proxy", px(2100, 645, 1575, 255));
        row(2, "Text1", "", px(2100, 960, 3360, 315));
        row(2, "Frame3", "Connection Interval", px(120, 1560, 5475, 1035));
        row(2, "Label5", "Connect every 1 minute(s)", px(120, 240, 3015, 255), "Frame3");
        row(2, "Label6", "1", px(120, 705, 135, 255), "Frame3");
        row(2, "Slider1", "", px(240, 2040, 5235, 195));
        row(2, "Label7", "30", px(5160, 720, 225, 255), "Frame3");
        row(2, "Command8", "&Save Settings", px(3960, 2700, 1635, 345));
        row(3, "Label8", "ModemConnection Speed", px(120, 360, 1965, 255));
        row(3, "Combo1", "", px(120, 585, 1860, 315));
        row(3, "Label16",
            "If you are using a modem to connect to the Internet, please select the speed of "
            "your modem from the drop down box on the left.",
            px(2115, 360, 3525, 645));
        row(3, "Frame4", "", px(135, 945, 5415, 1740));
        row(3, "Label18",
            "* Configuration of your winsock will increase connection performance up to 200%",
            px(135, 2700, 3660, 375));
        row(3, "Command12", "&Optimize", px(3915, 2700, 1635, 345));
        row(3, "Label15", " Winsock Setting", px(30, 105, 2685, 255), "Frame4");
        row(3, "Label13", " Current ", px(2730, 105, 1305, 255), "Frame4");
        row(3, "Label14", " Reccomended ", px(4050, 105, 1320, 255), "Frame4");
        row(3, "label9", "Maximum Transmission Unit [MTU]", px(45, 405, 2775, 255), "Frame4");
        row(3, "Label10", "Maximum Segment Size [MSS]", px(45, 720, 2775, 255), "Frame4");
        row(3, "Label11", "Receive Window [RWIN]", px(45, 1035, 2535, 255), "Frame4");
        row(3, "Label12", "Time To Live [TTL]", px(45, 1350, 1575, 255), "Frame4");
        row(3, "mtu", "select speed", px(4050, 405, 1320, 285), "Frame4");
        row(3, "MSS", "select speed", px(4050, 720, 1320, 285), "Frame4");
        row(3, "RWIN", "select speed", px(4050, 1035, 1320, 285), "Frame4");
        row(3, "TTL", "select speed", px(4050, 1350, 1320, 285), "Frame4");
        row(4, "Text2", "", px(120, 360, 5430, 2175));
        row(4, "Label19", "Quorrel 2.5", px(135, 2655, 2400, 195));
        row(4, "Command4", "&Homepage", px(3915, 2700, 1635, 345));
    }

    void pageControls()
    {
        QFETCH(int, page);
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, place);
        QFETCH(QString, container);

        w->SSTab1->setCurrentIndex(page);
        auto *control = w->findChild<QWidget *>(name);
        QVERIFY2(control, qPrintable(name));
        QWidget *relativeTo = container.isEmpty() ? w->SSTab1 : w->findChild<QWidget *>(container);
        QVERIFY(relativeTo);
        const QPoint topLeft = control->mapTo(relativeTo, QPoint(0, 0));
        QCOMPARE(QRect(topLeft, control->size()), place);
        QVERIFY(control->isVisible());
        QVERIFY(control->isEnabled() || name == QLatin1String("Command3"));
        if (!caption.isEmpty())
            QCOMPARE(captionOf(control), caption);

        // Only the selected page's controls are shown.
        w->SSTab1->setCurrentIndex((page + 1) % w->SSTab1->count());
        QVERIFY(!control->isVisible());
    }

    void initialStatesOfTheControls()
    {
        QVERIFY(!w->Image1->pixmap().isNull());
        QCOMPARE(w->Image1->pixmap().size(), QSize(279, 59));
        QCOMPARE(w->Image2->pixmap().size(), QSize(32, 32));
        QVERIFY(!w->random1->isChecked());
        QVERIFY(w->http->isChecked());
        QVERIFY(!w->ftp->isChecked());
        QVERIFY(!w->Check1->isChecked());
        QVERIFY(w->Text1->isEnabled()); // enabled although the proxy is off
        QCOMPARE(w->Text1->text(), QString());
        QCOMPARE(w->Slider1->minimum(), 1);
        QCOMPARE(w->Slider1->maximum(), 30);
        QCOMPARE(w->Slider1->value(), 1);
        QVERIFY(w->List1->focusPolicy() == Qt::ClickFocus);
        QCOMPARE(w->List1->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(!w->List1->isSortingEnabled());

        QVERIFY(w->Combo1->isEditable());
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("Select Speed"));
        QCOMPARE(w->Combo1->currentIndex(), -1);
        QCOMPARE(w->Combo1->count(), 3);
        QCOMPARE(w->Combo1->itemText(0), QStringLiteral("28.8 Kbps"));
        QCOMPARE(w->Combo1->itemText(1), QStringLiteral("33.6 Kbps"));
        QCOMPARE(w->Combo1->itemText(2), QStringLiteral("56.6 Kbps"));

        for (QLabel *cell :
             {w->CMTU, w->CMSS, w->CRWIN, w->CTTL, w->mtu, w->MSS, w->RWIN, w->TTL}) {
            QCOMPARE(cell->palette().color(QPalette::Window), QColor(0x00, 0x00, 0x00));
            QCOMPARE(cell->palette().color(QPalette::WindowText), QColor(0x00, 0xFF, 0x00));
            QVERIFY(cell->font().bold());
            QCOMPARE(cell->font().pointSizeF(), 9.75);
        }
        QCOMPARE(w->Label15->palette().color(QPalette::Window), QColor(0xE0, 0xE0, 0xE0));
        QVERIFY(!w->Label20->text().isEmpty());
        QCOMPARE(w->Text2->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }

    void cnkIsNeverVisible()
    {
        w->cnk->setText(QString(5000, QLatin1Char('x')));
        QVERIFY(!w->cnk->isVisible());
        QCOMPARE(w->cnk->geometry(), px(180, 3480, 4155, 1275));
        QVERIFY(w->cnk->geometry().top() >= w->height());
    }

    void trayMenuIsDefinedButNotShown()
    {
        const QList<QAction *> items = w->mnusystemtray->actions();
        QCOMPARE(items.size(), 4);
        QCOMPARE(items[0], w->start);
        QCOMPARE(items[1], w->stop1);
        QCOMPARE(items[2], w->open);
        QCOMPARE(items[3], w->close);
        QCOMPARE(w->start->text(), QStringLiteral("Start"));
        QCOMPARE(w->stop1->text(), QStringLiteral("Stop"));
        QCOMPARE(w->open->text(), QStringLiteral("Open Quorrel"));
        QCOMPARE(w->close->text(), QStringLiteral("Close Quorrel"));
        for (QAction *item : items)
            QVERIFY(item->isEnabled());
        QVERIFY(!w->mnusystemtray->isVisible());
    }

    void keyboardOrder()
    {
        const QList<QWidget *> order = {w->SSTab1,   w->Command1,  w->Command3, w->Command9,
                                        w->Command2, w->Command5,  w->Command6, w->Command7,
                                        w->random1,  w->Command10, w->http,     w->ftp,
                                        w->Check1,   w->Text1,     w->Slider1,  w->Command8,
                                        w->Text2,    w->Command4,  w->Combo1,   w->Command12};
        const auto isOwnControl = [&](QWidget *widget) { return order.contains(widget); };
        for (qsizetype i = 0; i + 1 < order.size(); ++i) {
            QWidget *next = order[i]->nextInFocusChain();
            while (next && !isOwnControl(next))
                next = next->nextInFocusChain();
            QCOMPARE(next, order[i + 1]);
        }
        QVERIFY(!(w->List1->focusPolicy() & Qt::TabFocus));
    }

    // The state table of the load step with an empty settings store.
    void stateAfterStartUp()
    {
        QVERIFY(!w->Timer1->isActive());
        QCOMPARE(w->Timer1->interval(), 59000);
        QCOMPARE(w->Timer1->timerType(), Qt::PreciseTimer);
        QVERIFY(w->Text2->toPlainText().startsWith(
            u"Quorrel is an Internet application that will enhance your online connection"));
        QVERIFY(w->Text2->toPlainText().endsWith(u"any Internet Service Provider using TCP/IP."));
        QVERIFY(w->Command1->isEnabled());
        QVERIFY(!w->Command3->isEnabled());
        QVERIFY(!w->start->isChecked());
        QVERIFY(w->stop1->isChecked());
        QCOMPARE(w->Label1->text(), QStringLiteral("Remote Host: "));
        QCOMPARE(w->Label2->text(), QStringLiteral("Status: "));
        QCOMPARE(w->Label3->text(), QStringLiteral("Successful Connections: "));
        QCOMPARE(w->Label4->text(), QStringLiteral("Failed Connections: "));
        QCOMPARE(w->List1->count(), 8);
        QCOMPARE(w->Label5->text(), QStringLiteral("Connect every 1 minute(s)"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Quorrel"));
        QCOMPARE(w->SSTab1->currentIndex(), 0);
        QCOMPARE(w->cnk->text(), QString());
        QCOMPARE(rig->dialogs.shown.size(), 0);
    }

    void intervalLabelFollowsTheSlider()
    {
        w->SSTab1->setCurrentIndex(2);
        w->Slider1->setFocus();
        QTest::keyClick(w->Slider1, Qt::Key_Right);
        QCOMPARE(w->Label5->text(), QStringLiteral("Connect every 2 minute(s)"));
        QTest::keyClick(w->Slider1, Qt::Key_End);
        QCOMPARE(w->Label5->text(), QStringLiteral("Connect every 30 minute(s)"));
        QTest::keyClick(w->Slider1, Qt::Key_Right);
        QCOMPARE(w->Slider1->value(), 30);
        QTest::keyClick(w->Slider1, Qt::Key_Home);
        QTest::keyClick(w->Slider1, Qt::Key_Left);
        QCOMPARE(w->Slider1->value(), 1);
        QCOMPARE(w->Label5->text(), QStringLiteral("Connect every 1 minute(s)"));
    }

    void enableProxySwitchesTheAddressBox()
    {
        w->Text1->setText(QStringLiteral("proxy:8080"));
        w->Check1->setChecked(true);
        QVERIFY(w->Text1->isEnabled());
        QCOMPARE(w->Text1->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(w->Text1->text(), QStringLiteral("proxy:8080"));
        w->Check1->setChecked(false);
        QVERIFY(!w->Text1->isEnabled());
        QCOMPARE(w->Text1->text(), QString());
        w->Check1->setChecked(true);
        QCOMPARE(w->Text1->text(), QString()); // ticking again does not bring it back
    }

private:
    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
