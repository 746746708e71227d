#include "app/LaunchOptions.h"

#include <QCommandLineParser>

LaunchOptions LaunchOptions::fromCommandLine(const QCoreApplication &application)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Keeps an idle Internet connection from being dropped by fetching a document from "
           "one of your hosts at a fixed interval."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption start(QStringLiteral("start"),
                                   tr("Start the keep-alive cycle at once, as Start does."));
    const QCommandLineOption tray(QStringLiteral("tray"),
                                  tr("Start hidden in the tray, as Tray does (minimized when "
                                     "no tray is running)."));
    parser.addOptions({start, tray});
    parser.process(application);
    return {.start = parser.isSet(start), .tray = parser.isSet(tray)};
}
