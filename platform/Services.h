#pragma once

// The outside world as the window sees it. Production wiring is in app/main.cpp;
// tests build their own set with scripted or recording implementations
// (tests/support/TestRig). The window never owns these.

class Dialogs;
class Tray;
class Shell;

struct Services {
    Dialogs *dialogs = nullptr;
    Tray *tray = nullptr;
    Shell *shell = nullptr;
};
