// The way into the line's history from the window: "History…" on the status
// and count labels, and a launch that asks for it.

#include "app/frmmain.h"
#include "history/HistoryWindow.h"

#include <QLabel>
#include <QMenu>

void frmmain::Label_ContextMenu(QLabel *label, const QPoint &position)
{
    if (!historyMenu_) {
        historyMenu_ = new QMenu(this);
        historyMenu_->setObjectName(QStringLiteral("historyMenu"));
        historyMenu_->addAction(tr("History…"), this, &frmmain::showHistory);
    }
    historyMenu_->popup(label->mapToGlobal(position));
}

void frmmain::showHistory()
{
    if (!services_.attemptLog)
        return;
    if (!history_) {
        // A window of its own, not the main window's child: it stays when the
        // main window hides in the tray, and has its own task bar entry.
        auto *window = new HistoryWindow(*services_.attemptLog);
        connect(this, &frmmain::attemptReported, window, &HistoryWindow::reload);
        history_ = window;
    }
    history_->show();
    history_->raise();
    history_->activateWindow();
}
