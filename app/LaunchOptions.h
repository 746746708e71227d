#pragma once

#include <QCoreApplication>
#include <optional>

// What the command line asks of a start. Without options: the window shown,
// the cycle stopped.
struct LaunchOptions {
    Q_DECLARE_TR_FUNCTIONS(LaunchOptions)

public:
    bool start = false;   // --start: the cycle runs at once, as Start runs it
    bool tray = false;    // --tray: the window starts hidden, as Tray hides it
    bool history = false; // --history: the History window shown, the running Quorrel's if any

    // Read before any application object exists. Nothing when the command
    // line asks for --help or --version, or holds an unknown option: those
    // are answered by answer(), with no window system needed.
    static std::optional<LaunchOptions> fromArguments(int argc, char *argv[]);
    // Prints the help, the version or the error, as QCommandLineParser does,
    // and ends the program with its status (0, 0, 1).
    [[noreturn]] static void answer(const QCoreApplication &application);
};
