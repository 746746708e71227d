// Quorrel's start procedure: wires the real platform services to the one window
// and shows it; the program then lives on the window's events.

#include "app/frmmain.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "platform/Tray.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorrel"));
    QApplication::setApplicationVersion(QStringLiteral("2.5"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quorrel/icon.png")));

    // The window may sit hidden in the tray while message boxes come and go;
    // only unloading the window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    QtDialogs dialogs;
    QtTray tray;
    DesktopShell shell;
    const Services services{
        .dialogs = &dialogs,
        .tray = &tray,
        .shell = &shell,
    };

    frmmain window(services);
    dialogs.setOwner(&window);
    QObject::connect(&window, &frmmain::unloaded, &application, &QApplication::quit);
    window.show();
    return QApplication::exec();
}
