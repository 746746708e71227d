// Quorrel's start procedure: wires the real platform services to the one window
// and shows it; the program then lives on the window's events.

#include "app/frmmain.h"
#include "platform/Dialogs.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorrel"));
    QApplication::setApplicationVersion(QStringLiteral("2.5"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quorrel/icon.png")));

    QtDialogs dialogs;
    const Services services{
        .dialogs = &dialogs,
    };

    frmmain window(services);
    dialogs.setOwner(&window);
    window.show();
    return QApplication::exec();
}
