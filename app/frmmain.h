#pragma once

// The one window of Quorrel. Its controls are the program's live state: the
// keep-alive engine, the host list, the settings and the optimizer all read and
// write them directly. The member functions are defined in the folder of the
// subsystem they belong to (app/, keepalive/, hosts/, settings/, optimizer/).

#include "platform/Failure.h"
#include "platform/Services.h"
#include "platform/net/Inet.h"

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class LineWatch;
class PunctualTimer;

// Controls are public: they are the window a user sees, and tests read them as
// a user would. The handlers, named control_event, are what the window does
// when a control is used; the state between attempts is the window's alone.
class frmmain : public QWidget
{
    Q_OBJECT

public:
    explicit frmmain(const Services &services, QWidget *parent = nullptr);
    ~frmmain() override;

    QTabWidget *SSTab1 = nullptr; // the five pages below, in this order

    // "&Program" page
    QLabel *Image1 = nullptr;        // the logo
    QLabel *Label21 = nullptr;       // "Quorrel 2.5"
    QLabel *Label1 = nullptr;        // "Remote Host:" and the host of the last attempt
    QLabel *Label2 = nullptr;        // "Status:" and the outcome with its time
    QLabel *Label3 = nullptr;        // "Successful Connections:" and their count
    QLabel *Label4 = nullptr;        // "Failed Connections:" and their count
    QPushButton *Command1 = nullptr; // "&Start"
    QPushButton *Command3 = nullptr; // "&Stop"
    QPushButton *Command9 = nullptr; // "&Tray"
    QPushButton *Command2 = nullptr; // "&Close"
    PunctualTimer *Timer1 = nullptr; // the 59-second tick, running while the cycle runs

    // "&Hosts" page
    QListWidget *List1 = nullptr;     // the hosts, in turn from the top
    QPushButton *Command5 = nullptr;  // "&Add"
    QPushButton *Command6 = nullptr;  // "&Remove"
    QPushButton *Command7 = nullptr;  // "&Edit"
    QCheckBox *random1 = nullptr;     // "Connect to hosts at random"
    QPushButton *Command10 = nullptr; // "&Save Settings"
    QLabel *Image2 = nullptr;         // the hosts icon

    // "Options" page
    QGroupBox *Frame1 = nullptr;     // "Connection Method"
    QRadioButton *http = nullptr;    // "HTTP"
    QRadioButton *ftp = nullptr;     // "FTP"
    QGroupBox *Frame2 = nullptr;     // "Proxy Setting"
    QCheckBox *Check1 = nullptr;     // "Enable Proxy"
    QLineEdit *Text1 = nullptr;      // the proxy address
    QGroupBox *Frame3 = nullptr;     // "Connection Interval"
    QLabel *Label5 = nullptr;        // "Connect every N minute(s)"
    QLabel *Label6 = nullptr;        // "1", the slider's low end
    QSlider *Slider1 = nullptr;      // the interval, 1 to 30 minutes
    QLabel *Label7 = nullptr;        // "30", the slider's high end
    QPushButton *Command8 = nullptr; // "&Save Settings"

    // "QuorrelTune" page
    QLabel *Label8 = nullptr;         // "ModemConnection Speed"
    QComboBox *Combo1 = nullptr;      // the modem speeds; "Select Speed" until one is picked
    QLabel *Label16 = nullptr;        // the advice to modem users
    QGroupBox *Frame4 = nullptr;      // the table of winsock settings
    QLabel *Label18 = nullptr;        // "* Configuration of your winsock …"
    QPushButton *Command12 = nullptr; // "&Optimize"
    QLabel *Label15 = nullptr;        // " Winsock Setting", the table's first column
    QLabel *Label13 = nullptr;        // " Current "
    QLabel *Label14 = nullptr;        // " Reccomended "
    QLabel *label9 = nullptr;         // "Maximum Transmission Unit [MTU]"
    QLabel *Label10 = nullptr;        // "Maximum Segment Size [MSS]"
    QLabel *Label11 = nullptr;        // "Receive Window [RWIN]"
    QLabel *Label12 = nullptr;        // "Time To Live [TTL]"
    QLabel *CMTU = nullptr;           // current values, "Not Set" when missing
    QLabel *CMSS = nullptr;
    QLabel *CRWIN = nullptr;
    QLabel *CTTL = nullptr;
    QLabel *mtu = nullptr; // recommended values, "select speed" until a pick
    QLabel *MSS = nullptr;
    QLabel *RWIN = nullptr;
    QLabel *TTL = nullptr;

    // "About" page
    QPlainTextEdit *Text2 = nullptr; // what Quorrel is for, read-only
    QLabel *Label19 = nullptr;       // "Quorrel 2.5"
    QLabel *Label20 = nullptr;       // "Made by the Quorrel developers."
    QPushButton *Command4 = nullptr; // "&Homepage"

    // Outside the pages: holds the last fetched document, never shown.
    QLabel *cnk = nullptr;

    // The transfer facility that fetches the documents: a control without a face.
    Inet *Inet1 = nullptr;

    // The tray icon's popup menu. The item `close` hides QWidget::close(); the
    // window is closed through unload().
    QMenu *mnusystemtray = nullptr;
    QAction *start = nullptr; // "Start"
    QAction *stop1 = nullptr; // "Stop"
    QAction *open = nullptr;  // "Open Quorrel"
    QAction *close = nullptr; // "Close Quorrel"

    // --- app/: start-up and window commands ---
    void Form_Load(); // the constructor: current TCP/IP values, texts, settings, tick
    // The tray icon's mouse messages: Tray::LeftDoubleClick brings the window
    // back, Tray::RightButtonUp pops up the tray menu.
    void Tray_MouseMessage(int message);
    void Form_QueryUnload(int &Cancel, int UnloadMode); // closeEvent: the icon goes
    void totray();         // Command9: the window hides behind the tray icon
    void Command9_Click(); // "&Tray": totray()
    void open_Click();     // "Open Quorrel": the window back, the icon gone
    void close_Click();    // "Close Quorrel": as "&Close"
    void Command2_Click(); // "&Close": asks to save, then unloads
    void Command4_Click(); // "&Homepage": the browser opens the homepage
    void Check1_Click();   // "Enable Proxy" toggled: the address box on, or off and emptied
    void unload();         // Command2: the window closes and the program ends
    // main: the window shown, or hidden as Command9 hides it; with start, the
    // cycle started as Command1 starts it.
    void Form_Launch(bool start, bool toTray);
    // Quorrel launched again: the window comes forward, from the tray too, or
    // with history the History window does; with start, the cycle starts
    // unless it runs.
    void Form_LaunchedAgain(bool start, bool history);

    // --- keepalive/: scheduler and connection attempt ---
    // Timer1 every 59 s: counts a minute, and attempts once the interval is
    // reached. Tests call it for a tick.
    void Timer1_Timer();
    void Command1_Click();  // "&Start": attempts at once and starts the tick
    void start_Click();     // "Start" in the tray menu: as "&Start"
    void Command3_Click();  // "&Stop": ends a fetch, stops the tick, clears the labels
    void stop1_Click();     // "Stop" in the tray menu: as "&Stop"
    void Slider1_MouseUp(); // the slider let go: Label5 shows the interval
    void httpd();           // one attempt by HTTP (Timer1_Timer, Command1_Click)
    void ftpd();            // one attempt by FTP (Timer1_Timer, Command1_Click)
    // The only way into the window's state besides its controls: the counts
    // at their limit of 32,767 would take a test months of attempts.
    void setCountsForTest(std::int16_t successes, std::int16_t failures);

    // --- hosts/: host list editing ---
    void Command5_Click(); // "&Add": asks for a host and appends it
    void Command6_Click(); // "&Remove": removes the selected host
    void Command7_Click(); // "&Edit": asks for the selected host's new text

    // --- settings/: the settings store ---
    // Writes every option and host to the store; the failure, if any.
    [[nodiscard]] std::optional<Failure> save();
    void savesettings();    // Command8, Command10: save() and says how it went
    void loadsettings();    // Form_Load: options and hosts from the store, or defaults
    void Command10_Click(); // "&Save Settings" on the hosts page
    void Command8_Click();  // "&Save Settings" on the options page

    // --- optimizer/: the TCP/IP optimizer page ---
    void Combo1_Click();    // a speed picked from the list: the recommended values
    void Command12_Click(); // "&Optimize": writes the recommended values

    // --- history/: the line's history, read back from the attempts log ---
    void showHistory(); // "History…", `--history`: the History window shown and raised
    // Label2, Label3, Label4 right-clicked: a menu with "History…".
    void Label_ContextMenu(QLabel *label, const QPoint &position);

signals:
    // The window has been unloaded; the program ends.
    void unloaded();
    // An attempt has been reported to the log: the History window reads it again.
    void attemptReported();

protected:
    void closeEvent(QCloseEvent *event) override;
    // The first paint completes the window icon.
    void paintEvent(QPaintEvent *event) override;

private:
    // --- app/: the window built, its tray menu and its commands ---
    void buildWindow();
    void buildProgramPage(QWidget *page);
    void buildHostsPage(QWidget *page);
    void buildOptionsPage(QWidget *page);
    void buildTunePage(QWidget *page);
    void buildAboutPage(QWidget *page);
    void buildTrayMenu();
    void setKeyboardOrder();
    void fitStaticCaptions();
    void connectHandlers();
    void showFromTray();
    void startOnceShown();
    void popUpTrayMenu();

    Services services_;

    // Whether the window icon has its larger drawings, given after the first paint.
    bool iconComplete_ = false;
    // Whether a tray message is being handled: the popup menu runs a nested
    // event loop, in which the next one is dropped.
    bool trayBusy_ = false;

    // --- keepalive/: the tick, and one connection attempt at a time ---
    void showInterval(); // Label5 from the slider
    Inet::Method chosenMethod() const;
    void attemptByChosenMethod(); // httpd or ftpd, as the Options page says
    void attempt(Inet::Method method);
    void connectOnce(Inet::Method method);
    std::optional<int> chooseHost(bool atRandom);
    // The tick stopped, the counts blank, and these lines for the host and the status.
    void showHalted(const QString &hostLine, const QString &statusLine);
    void abandonAttempt();
    std::int16_t cnt_ = 0;  // ticks since the last attempt that fetched
    std::int16_t good_ = 0; // successful connections since start
    std::int16_t bad_ = 0;  // failed connections since start
    std::int16_t intv_ = 0; // position of the next host when taken in turn
    bool attemptInProgress_ = false;
    bool attemptQueued_ = false; // a Start came while an attempt was in progress
    bool stopPrevails_ = false;  // a Stop or a close came while the attempt fetched

    // --- keepalive/: what an attempt tells beyond the window: the attempts log,
    // and the desktop when the line is lost and when it is back.
    void reportAttempt(const FetchRequest &request, const FetchResult &fetched, bool succeeded,
                       qint64 durationMs);
    // The count of failures in a row that loses the line, from the settings;
    // 0: the desktop is never told.
    void watchLine(int failuresBeforeLost);
    // Shared only so that its deleter is made in keepalive/, where its type is known.
    std::shared_ptr<LineWatch> lineWatch_;

    // --- hosts/ ---
    void appendDefaultHosts();
    void appendHost(const QString &host);

    // --- settings/ ---
    void warnSaveFailed(const Failure &failure);

    // --- optimizer/: the current values as the protocol's keys hold them (the
    // load step), or with the network adapter's MTU where the protocol's is not set.
    void readCurrentTcpValues();
    void readCurrentTcpValuesOrAdapterMtu();

    // --- history/ ---
    QMenu *historyMenu_ = nullptr;
    QPointer<QWidget> history_; // its own window, made at the first showHistory()
};
