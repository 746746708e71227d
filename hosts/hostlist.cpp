// The host list: the list box is the only store of the hosts while the program
// runs. Add, Remove and Edit change it; saving the settings stores it.

#include "app/blanks.h"
#include "app/frmmain.h"
#include "platform/Dialogs.h"

#include <QItemSelectionModel>
#include <QListWidget>

namespace
{

// Input is refused when it sorts at or before this many blanks: empty text,
// a cancelled box, or blanks only up to the threshold.
constexpr int addThreshold = 27;
constexpr int editThreshold = 30;

// The highlighted row, which is what the user sees as selected, -1 for none.
// Qt keeps its current row after the user deselects it (a click beside the
// rows, Ctrl+click), and a screen reader may select a row without making it
// current: QItemSelectionModel tracks the current index and the selection
// apart (its class documentation).
int selectedRow(const QListWidget *list)
{
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void deselect(QListWidget *list)
{
    list->setCurrentRow(-1);
    list->clearSelection();
}

} // namespace

void frmmain::appendHost(const QString &host)
{
    List1->addItem(host);
}

void frmmain::appendDefaultHosts()
{
    // Five university web sites, then three company web sites.
    static const char *const defaults[] = {
        "www.mit.edu",  "www.stanford.edu", "www.berkeley.edu",  "www.harvard.edu",
        "www.ox.ac.uk", "www.ibm.com",      "www.microsoft.com", "www.apple.com",
    };
    for (const char *host : defaults)
        appendHost(QLatin1String(host));
}

void frmmain::Command5_Click()
{
    const QString host = services_.dialogs->InputBox(
        tr("Please type the address of the remote host you would like to add."),
        tr("Add Remote Host"), QString());
    if (!sortsAfterBlanks(host, addThreshold))
        return;
    appendHost(host);
    // The new host comes into view; the selection stays where it was.
    List1->scrollToItem(List1->item(List1->count() - 1));
}

void frmmain::Command6_Click()
{
    // With nothing selected there is no row to take; nothing changes.
    delete List1->takeItem(selectedRow(List1));
    deselect(List1);
}

void frmmain::Command7_Click()
{
    // The position is fixed before the box opens: an attempt may move the
    // selection while the user types.
    const int position = selectedRow(List1);
    if (position < 0)
        return;
    const QString current = List1->item(position)->text();
    const QString host = services_.dialogs->InputBox(
        tr("If you would like to change this host, please type new address."),
        tr("Edit a Remote Host"), current);
    if (!sortsAfterBlanks(host, editThreshold))
        return;
    delete List1->takeItem(position);
    List1->insertItem(position, host);
    deselect(List1);
}
