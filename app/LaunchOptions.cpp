#include "app/LaunchOptions.h"

#include <QCommandLineParser>
#include <cstdlib>

namespace
{

const QString startName = QStringLiteral("start");
const QString trayName = QStringLiteral("tray");
const QString historyName = QStringLiteral("history");

// Qt's own options of a desktop program, which QApplication takes from the
// command line itself; accepted here so that they still reach it.
void acceptQtOptions(QCommandLineParser &parser)
{
    for (const char *name : {"platform", "platformpluginpath", "platformtheme", "plugin",
                             "qwindowgeometry", "qwindowicon", "qwindowtitle", "display",
                             "geometry", "style", "stylesheet", "session", "qmljsdebugger"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(LaunchOptions::tr(
        "Keeps an idle Internet connection from being dropped by fetching a document from "
        "one of your hosts at a fixed interval."));
    // Qt's options are written with one dash.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions(
        {{startName, LaunchOptions::tr("Start the keep-alive cycle at once, as Start does.")},
         {trayName, LaunchOptions::tr("Start hidden in the tray, as Tray does (minimized when "
                                      "no tray is running).")},
         {historyName, LaunchOptions::tr("Show the History window: the line's last 24 hours, "
                                         "its outages and what the attempts cost.")}});
    acceptQtOptions(parser);
}

} // namespace

std::optional<LaunchOptions> LaunchOptions::fromArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(arguments) || parser.isSet(QStringLiteral("help")) ||
        parser.isSet(QStringLiteral("help-all")) || parser.isSet(QStringLiteral("version")))
        return std::nullopt;
    return LaunchOptions{.start = parser.isSet(startName),
                         .tray = parser.isSet(trayName),
                         .history = parser.isSet(historyName)};
}

void LaunchOptions::answer(const QCoreApplication &application)
{
    QCommandLineParser parser;
    describe(parser);
    parser.process(application);
    std::exit(EXIT_FAILURE); // not reached: process() ends the program for what it answers
}
