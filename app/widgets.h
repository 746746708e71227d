#pragma once

// The window's own kinds of control: the Qt widgets it uses, each changed in
// the one way the window's design needs.

#include <QComboBox>
#include <QList>
#include <QListWidget>
#include <QMenu>
#include <QRect>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>

// A page of the tab control. Its controls are placed relative to the whole tab
// control, tab strip included, so the page offsets them by its own position
// inside the tab control whenever the tab control lays it out.
class TabPage final : public QWidget
{
public:
    explicit TabPage(QTabWidget *tabs) : QWidget(tabs), tabs_(tabs) {}

    void place(QWidget *control, const QRect &rectInTabControl);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Placement {
        QWidget *control;
        QRect rect;
    };
    QTabWidget *tabs_;
    QList<Placement> placements_;
};

// The tab strip of the design: one row of tabs, each 295 twips high.
class TabStrip final : public QTabBar
{
protected:
    QSize tabSizeHint(int index) const override;
};

// QTabWidget::setTabBar is protected; this tab control uses the strip above.
class TabControl final : public QTabWidget
{
public:
    explicit TabControl(QWidget *parent);
};

// An editable drop-down whose `activated` means a choice from its list: by
// the mouse, by the keyboard in the open list, or by the arrow keys on the
// closed box. Qt also reports typed text that matches an item (in any case) as
// activated when Return confirms it or the field loses the focus (its
// editingFinished handler in Qt's qcombobox.cpp); that is typing, not a
// choice, and is kept quiet.
class ListChoiceBox final : public QComboBox
{
protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
};

// The tray menu chooses an item with the left button only; the right
// button's release that opened it must not choose what lies under the pointer.
class LeftButtonMenu final : public QMenu
{
public:
    using QMenu::QMenu;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// A press beside the rows deselects the host, so that Remove and Edit then do
// nothing. Qt itself keeps the selection there in some versions.
class HostListBox final : public QListWidget
{
protected:
    void mousePressEvent(QMouseEvent *event) override;
};
