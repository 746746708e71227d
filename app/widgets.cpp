#include "app/widgets.h"

#include "app/twips.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>

void TabPage::place(QWidget *control, const QRect &rectInTabControl)
{
    control->setParent(this);
    placements_.append({control, rectInTabControl});
    control->setGeometry(rectInTabControl);
}

void TabPage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const QPoint offset = mapTo(tabs_, QPoint(0, 0));
    for (const auto &[control, rect] : std::as_const(placements_))
        control->setGeometry(rect.translated(-offset));
}

QSize TabStrip::tabSizeHint(int index) const
{
    return {QTabBar::tabSizeHint(index).width(), twips::pixels(295)};
}

TabControl::TabControl(QWidget *parent) : QTabWidget(parent)
{
    setTabBar(new TabStrip);
}

void ListChoiceBox::keyPressEvent(QKeyEvent *event)
{
    const bool confirmsTyping = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const QSignalBlocker quiet(confirmsTyping ? this : nullptr);
    QComboBox::keyPressEvent(event);
}

void ListChoiceBox::focusOutEvent(QFocusEvent *event)
{
    const QSignalBlocker quiet(this);
    QComboBox::focusOutEvent(event);
}

void LeftButtonMenu::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        QMenu::mouseReleaseEvent(event);
}

void HostListBox::mousePressEvent(QMouseEvent *event)
{
    if (!indexAt(event->position().toPoint()).isValid())
        clearSelection();
    QListWidget::mousePressEvent(event);
}
