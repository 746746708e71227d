// Quorrel's start procedure: wires the real platform services to the one window
// and shows it; the program then lives on the window's events.

#include "app/LaunchOptions.h"
#include "app/frmmain.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Notifier.h"
#include "platform/Random.h"
#include "platform/Shell.h"
#include "platform/SingleInstance.h"
#include "platform/Tray.h"
#include "platform/net/LoadedInet.h"
#include "platform/registry/Registry.h"
#include "platform/store/AttemptLog.h"
#include "platform/store/SettingsStore.h"
#include "platform/tcpip/TcpIp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <csignal>
#include <optional>

namespace
{

// The user's language where a translation exists; the texts as written
// otherwise. Qt's own dialog buttons follow the same locale.
struct Translations {
    QTranslator quorrel;
    QTranslator qt;

    Translations()
    {
        if (quorrel.load(QLocale(), QStringLiteral("quorrel"), QStringLiteral("_"),
                         QStringLiteral(":/i18n")))
            QCoreApplication::installTranslator(&quorrel);
        if (qt.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&qt);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Quorrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.5"));
    // A write past a file size limit fails with EFBIG, which every writer
    // handles; the signal would end the program instead.
    static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));

    // --help, --version and a wrong option are answered without a display:
    // over SSH, in a script, on a console.
    const std::optional<LaunchOptions> launch = LaunchOptions::fromArguments(argc, argv);
    if (!launch) {
        const QCoreApplication answering(argc, argv);
        const Translations translations;
        LaunchOptions::answer(answering);
    }

    QApplication application(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QApplication::setDesktopFileName(QStringLiteral("org.example.Quorrel"));
    const Translations translations;

    // The window may sit hidden in the tray while message boxes come and go;
    // only unloading the window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    QtDialogs dialogs;
    QtTray tray;
    DesktopShell shell;
    QtSettingsStore settings;
    // A Quorrel already running over these settings takes this launch over.
    SingleInstance instance(settings.fileName(QStringLiteral("Quorrel")));
    if (instance.handOver(launch->start, launch->history))
        return 0;
    LoadedInet inet(LoadedInet::programFolders());
    SystemClock clock;
    ClockSeededRandom random;
    FileRegistry registry(FileRegistry::defaultFileName());
    SystemTcpIp tcpip(SystemTcpIp::installedHelper());
    AttemptLog attemptLog(AttemptLog::defaultFileName());
    Notifier notifier;
    const Services services{
        .dialogs = &dialogs,
        .tray = &tray,
        .shell = &shell,
        .settings = &settings,
        .inet = &inet,
        .clock = &clock,
        .random = &random,
        .registry = &registry,
        .tcpip = &tcpip,
        .attemptLog = &attemptLog,
        .notifier = &notifier,
    };

    frmmain window(services);
    dialogs.setOwner(&window);
    QApplication::setWindowIcon(window.windowIcon());
    QObject::connect(&window, &frmmain::unloaded, &application, &QApplication::quit);
    QObject::connect(&instance, &SingleInstance::launchedAgain, &window,
                     &frmmain::Form_LaunchedAgain);
    window.Form_Launch(launch->start, launch->tray);
    if (launch->history)
        window.showHistory();
    return QApplication::exec();
}
