#pragma once

#include <QCoreApplication>

// What the command line asks of a start. Without options: the window shown,
// the cycle stopped.
struct LaunchOptions {
    Q_DECLARE_TR_FUNCTIONS(LaunchOptions)

public:
    bool start = false; // --start: the cycle runs at once, as Start runs it
    bool tray = false;  // --tray: the window starts hidden, as Tray hides it

    // --help, --version and an unknown option end the program here, as
    // QCommandLineParser does: with the text asked for, or with the error.
    static LaunchOptions fromCommandLine(const QCoreApplication &application);
};
