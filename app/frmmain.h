#pragma once

// The one window of Quorrel. Its controls are the program's live state: the
// keep-alive engine, the host list, the settings and the optimizer all read and
// write them directly. The member functions are defined in the folder of the
// subsystem they belong to (app/, keepalive/, hosts/, settings/, optimizer/).

#include "platform/Services.h"
#include "platform/net/Inet.h"
#include "platform/store/SaveError.h"

#include <QWidget>
#include <cstdint>
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
class QTimer;

class frmmain : public QWidget
{
    Q_OBJECT

public:
    explicit frmmain(const Services &services, QWidget *parent = nullptr);
    ~frmmain() override;

    // The tab control and its five pages.
    QTabWidget *SSTab1 = nullptr;

    // "&Program"
    QLabel *Image1 = nullptr;
    QLabel *Label21 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command9 = nullptr;
    QPushButton *Command2 = nullptr;
    QTimer *Timer1 = nullptr;

    // "&Hosts"
    QListWidget *List1 = nullptr;
    QPushButton *Command5 = nullptr;
    QPushButton *Command6 = nullptr;
    QPushButton *Command7 = nullptr;
    QCheckBox *random1 = nullptr;
    QPushButton *Command10 = nullptr;
    QLabel *Image2 = nullptr;

    // "Options"
    QGroupBox *Frame1 = nullptr;
    QRadioButton *http = nullptr;
    QRadioButton *ftp = nullptr;
    QGroupBox *Frame2 = nullptr;
    QCheckBox *Check1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    QSlider *Slider1 = nullptr;
    QLabel *Label7 = nullptr;
    QPushButton *Command8 = nullptr;

    // "QuorrelTune"
    QLabel *Label8 = nullptr;
    QComboBox *Combo1 = nullptr;
    QLabel *Label16 = nullptr;
    QGroupBox *Frame4 = nullptr;
    QLabel *Label18 = nullptr;
    QPushButton *Command12 = nullptr;
    QLabel *Label15 = nullptr;
    QLabel *Label13 = nullptr;
    QLabel *Label14 = nullptr;
    QLabel *label9 = nullptr;
    QLabel *Label10 = nullptr;
    QLabel *Label11 = nullptr;
    QLabel *Label12 = nullptr;
    QLabel *CMTU = nullptr;
    QLabel *CMSS = nullptr;
    QLabel *CRWIN = nullptr;
    QLabel *CTTL = nullptr;
    QLabel *mtu = nullptr;
    QLabel *MSS = nullptr;
    QLabel *RWIN = nullptr;
    QLabel *TTL = nullptr;

    // "About"
    QPlainTextEdit *Text2 = nullptr;
    QLabel *Label19 = nullptr;
    QLabel *Label20 = nullptr;
    QPushButton *Command4 = nullptr;

    // Outside the pages: holds the last fetched document, never shown.
    QLabel *cnk = nullptr;

    // The transfer facility that fetches the documents: a control without a face.
    Inet *Inet1 = nullptr;

    // The tray icon's popup menu. The item `close` hides QWidget::close(); the
    // window is closed through unload().
    QMenu *mnusystemtray = nullptr;
    QAction *start = nullptr;
    QAction *stop1 = nullptr;
    QAction *open = nullptr;
    QAction *close = nullptr;

    // Keep-alive state.
    std::int16_t cnt = 0;  // ticks since the last attempt that fetched
    std::int16_t good = 0; // successful connections since start
    std::int16_t bad = 0;  // failed connections since start
    std::int16_t intv = 0; // position of the next host when taken in turn

    // --- app/: start-up and window commands ---
    void Form_Load();
    // The tray icon's mouse messages: Tray::LeftDoubleClick brings the window
    // back, Tray::RightButtonUp pops up the tray menu.
    void Tray_MouseMessage(int message);
    void Form_QueryUnload(int &Cancel, int UnloadMode);
    void totray();
    void Command9_Click();
    void open_Click();
    void close_Click();
    void Command2_Click();
    void Command4_Click();
    void Check1_Click();
    void unload();

    // --- keepalive/: scheduler and connection attempt ---
    void Timer1_Timer();
    void Command1_Click();
    void start_Click();
    void Command3_Click();
    void stop1_Click();
    void Slider1_MouseUp();
    void showInterval();
    void httpd();
    void ftpd();

    // --- hosts/: host list editing ---
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void appendDefaultHosts();
    void appendHost(const QString &host);

    // --- settings/: the settings store ---
    [[nodiscard]] std::optional<SaveError> save();
    void savesettings();
    void loadsettings();
    void warnSaveFailed(const SaveError &failure);
    void Command10_Click();
    void Command8_Click();

    // --- optimizer/: the TCP/IP optimizer page ---
    // The current values as the protocol's keys hold them (the load step).
    void readCurrentTcpValues();
    // The same, with the network adapter's MTU where the protocol's is not set.
    void readCurrentTcpValuesOrAdapterMtu();
    void Combo1_Click();
    void Command12_Click();

signals:
    // The window has been unloaded; the program ends.
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
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
    void popUpTrayMenu();

    Services services_;

    // Whether a tray message is being handled: the popup menu runs a nested
    // event loop, in which the next one is dropped.
    bool trayBusy_ = false;

    // --- keepalive/: one connection attempt at a time ---
    Inet::Method chosenMethod() const;
    void attempt(Inet::Method method);
    void connectOnce(Inet::Method method);
    std::optional<int> chooseHost(bool atRandom);
    void abandonAttempt();
    bool attemptInProgress_ = false;
    bool attemptQueued_ = false; // a Start came while an attempt was in progress
    bool stopPrevails_ = false;  // a Stop or a close came while the attempt fetched
};
