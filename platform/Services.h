#pragma once

// The outside world as the window sees it. Production wiring is in app/main.cpp;
// tests build their own set with scripted or recording implementations
// (tests/support/TestRig). The window never owns these.

class Dialogs;
class Tray;
class Shell;
class SettingsStore;
class Inet;
class Clock;
class Random;
class Registry;
class TcpIp;
class AttemptLog;
class Notifier;

struct Services {
    Dialogs *dialogs = nullptr;
    Tray *tray = nullptr;
    Shell *shell = nullptr;
    SettingsStore *settings = nullptr;
    Inet *inet = nullptr;
    Clock *clock = nullptr;
    Random *random = nullptr;
    Registry *registry = nullptr;
    TcpIp *tcpip = nullptr;           // the running system's TCP/IP values
    AttemptLog *attemptLog = nullptr; // none: no log is kept
    Notifier *notifier = nullptr;     // none: the desktop is never told
};
