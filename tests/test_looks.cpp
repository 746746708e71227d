// What screen readers and keyboard users get, and that every caption shows
// whole. CTest runs this at 100, 150 and 200 % (QT_SCALE_FACTOR).

#include "app/FittingLabel.h"
#include "support/TestRig.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QTest>

namespace
{

void collectFocusableWithoutName(QAccessibleInterface *node, QStringList &missing, int depth = 0)
{
    if (!node || depth > 40)
        return;
    const QAccessible::State state = node->state();
    if (state.focusable && !state.invisible && node->text(QAccessible::Name).isEmpty()) {
        const QObject *object = node->object();
        missing.append(object ? QString::fromLatin1(object->metaObject()->className()) + u' ' +
                                    object->objectName()
                              : QStringLiteral("(no object)"));
    }
    for (int i = 0; i < node->childCount(); ++i)
        collectFocusableWithoutName(node->child(i), missing, depth + 1);
}

// How wide the text of a button may be: the control less the style's drawing
// around the caption.
int roomForText(const QAbstractButton *button)
{
    const QStyle *style = button->style();
    if (qobject_cast<const QCheckBox *>(button))
        return button->width() - style->pixelMetric(QStyle::PM_IndicatorWidth) -
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    if (qobject_cast<const QRadioButton *>(button))
        return button->width() - style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) -
               style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
    return button->width() - 2 * style->pixelMetric(QStyle::PM_ButtonMargin);
}

} // namespace

class LooksTest : public QObject
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

    void everyFocusableControlHasAnAccessibleName()
    {
        for (int page = 0; page < w->SSTab1->count(); ++page) {
            w->SSTab1->setCurrentIndex(page);
            QStringList missing;
            collectFocusableWithoutName(QAccessible::queryAccessibleInterface(w), missing);
            QVERIFY2(missing.isEmpty(), qPrintable(missing.join(u", ")));
        }
    }

    void valueCellsReadAsTheirValueAndSayWhichItIs()
    {
        w->CMTU->setText(QStringLiteral("576"));
        QAccessibleInterface *cell = QAccessible::queryAccessibleInterface(w->CMTU);
        QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("576"));
        QVERIFY(cell->text(QAccessible::Description).startsWith(u"Current Maximum Transmission"));
        for (QLabel *recommended : {w->mtu, w->MSS, w->RWIN, w->TTL})
            QVERIFY2(recommended->accessibleDescription().startsWith(u"Recommended "),
                     qPrintable(recommended->objectName()));
        for (QLabel *current : {w->CMSS, w->CRWIN, w->CTTL})
            QVERIFY2(current->accessibleDescription().startsWith(u"Current "),
                     qPrintable(current->objectName()));
    }

    void statusLabelsReadAsTheyShow()
    {
        w->Label2->setText(QStringLiteral("Status: could not connect"));
        QAccessibleInterface *status = QAccessible::queryAccessibleInterface(w->Label2);
        QVERIFY(status);
        QCOMPARE(status->text(QAccessible::Name), QStringLiteral("Status: could not connect"));
    }

    void accessKeysReachThePagesAndButtons()
    {
        QTest::keyClick(w, Qt::Key_H, Qt::AltModifier);
        QCOMPARE(w->SSTab1->currentIndex(), 1);
        QTest::keyClick(w, Qt::Key_P, Qt::AltModifier);
        QCOMPARE(w->SSTab1->currentIndex(), 0);
        QTest::keyClick(w->SSTab1, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(w->SSTab1->currentIndex(), 1);
    }

    void noCaptionIsCutOff()
    {
        for (int page = 0; page < w->SSTab1->count(); ++page) {
            w->SSTab1->setCurrentIndex(page);
            for (QLabel *label : w->findChildren<QLabel *>()) {
                if (!label->isVisible() || !label->pixmap().isNull())
                    continue;
                if (auto *fitting = qobject_cast<FittingLabel *>(label)) {
                    const int width =
                        QFontMetrics(fitting->fittedFont()).horizontalAdvance(fitting->text());
                    QVERIFY2(width <= fitting->contentsRect().width(),
                             qPrintable(label->objectName()));
                } else {
                    QVERIFY2(label->heightForWidth(label->width()) <= label->height(),
                             qPrintable(label->objectName()));
                }
            }
            for (QAbstractButton *button : w->findChildren<QAbstractButton *>()) {
                if (!button->isVisible() || button->text().isEmpty())
                    continue;
                const QString shown = QString(button->text()).remove(u'&');
                QVERIFY2(button->fontMetrics().horizontalAdvance(shown) <= roomForText(button),
                         qPrintable(button->objectName()));
            }
        }
    }

    void displayCellsKeepTheirLookInADarkTheme()
    {
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
        dark.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
        dark.setColor(QPalette::Base, QColor(0x10, 0x10, 0x10));
        dark.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
        QApplication::setPalette(dark);
        TestRig darkRig;
        frmmain &d = darkRig.window();
        QCOMPARE(d.CMTU->palette().color(QPalette::Window), QColor(0x00, 0x00, 0x00));
        QCOMPARE(d.CMTU->palette().color(QPalette::WindowText), QColor(0x00, 0xFF, 0x00));
        QCOMPARE(d.Label13->palette().color(QPalette::WindowText), QColor(0x00, 0x00, 0x00));
        // The proxy box turns white when enabled; its text must stay readable.
        d.Check1->setChecked(true);
        QCOMPARE(d.Text1->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(d.Text1->palette().color(QPalette::Text), QColor(Qt::black));
        QApplication::setPalette(QPalette());
    }

private:
    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
};

QTEST_MAIN(LooksTest)
#include "test_looks.moc"
