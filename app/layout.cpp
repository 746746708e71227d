// The window's controls: kinds, captions, places and initial states. Places are
// given in twips, as the window was designed, and converted at 15 twips a pixel.

#include "app/FittingLabel.h"
#include "app/frmmain.h"
#include "app/twips.h"
#include "app/widgets.h"
#include "platform/PunctualTimer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>

namespace
{

template <typename Control> Control *named(Control *control, const char *name)
{
    control->setObjectName(QLatin1String(name));
    return control;
}

// Screen readers read a label by its text, so the run-time labels read as
// they show ("Status: could not connect").
QLabel *makeLabel(const char *name, const QString &caption)
{
    return named(new FittingLabel(caption), name);
}

QPushButton *makeButton(const char *name, const QString &caption)
{
    auto *button = named(new QPushButton(caption), name);
    button->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    return button;
}

QGroupBox *makeFrame(const char *name, const QString &caption)
{
    auto *frame = named(new QGroupBox(caption), name);
    frame->setAccessibleName(caption);
    return frame;
}

QLabel *makeWrappingLabel(const char *name, const QString &caption)
{
    auto *label = named(new QLabel(caption), name);
    label->setAccessibleName(caption);
    label->setWordWrap(true);
    return label;
}

// One of the program's own PNG drawings. A reader free to choose would first
// load every image plugin, to ask each whether it reads PNG itself.
QPixmap ownPng(const QString &resource)
{
    QImageReader reader(resource, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

// The drawing, or its double-density twin (name@2x.png) on screens that want
// more pixels.
QPixmap drawingForScreen(const QString &resource)
{
    if (qApp->devicePixelRatio() <= 1.0)
        return ownPng(resource);
    QPixmap dense =
        ownPng(QString(resource).replace(QStringLiteral(".png"), QStringLiteral("@2x.png")));
    dense.setDevicePixelRatio(2.0);
    return dense;
}

QLabel *makePicture(const char *name, const QString &resource, const QString &description)
{
    auto *picture = named(new QLabel, name);
    picture->setPixmap(drawingForScreen(resource));
    picture->setAccessibleName(description);
    return picture;
}

// The window's 32-pixel icon, with larger drawings of it for high-density
// screens and trays that want more pixels.
QIcon windowIconSet()
{
    QIcon icon(ownPng(QStringLiteral(":/quorrel/icon.png")));
    for (const int size : {16, 48, 128, 256})
        icon.addPixmap(ownPng(QStringLiteral(":/quorrel/icons/quorrel-%1.png").arg(size)));
    return icon;
}

// The digital-display look of the optimizer's value cells: the seven-segment
// face where installed, a bold monospace face otherwise. Resolved when a
// cell is first drawn, so a window that opens on another page loads neither.
QFont displayFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("DSEG7 Classic"),
                      QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
    font.setPointSizeF(9.75);
    font.setBold(true);
    return font;
}

// A value cell reads as its value; its description says which value it is.
QLabel *makeValueCell(const char *name, const QString &caption, const QString &description)
{
    auto *cell = makeLabel(name, caption);
    cell->setAccessibleDescription(description);
    cell->setAutoFillBackground(true);
    QPalette colours = cell->palette();
    colours.setColor(QPalette::Window, QColor(0x00, 0x00, 0x00));
    colours.setColor(QPalette::WindowText, QColor(0x00, 0xFF, 0x00));
    cell->setPalette(colours);
    cell->setFont(displayFont());
    return cell;
}

QLabel *makeHeaderCell(const char *name, const QString &caption)
{
    auto *cell = makeLabel(name, caption);
    cell->setAutoFillBackground(true);
    QPalette colours = cell->palette();
    colours.setColor(QPalette::Window, QColor(0xE0, 0xE0, 0xE0));
    colours.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x00));
    cell->setPalette(colours);
    return cell;
}

void putInFrame(QWidget *control, QGroupBox *frame, const QRect &rect)
{
    control->setParent(frame);
    control->setGeometry(rect);
}

} // namespace

void frmmain::buildWindow()
{
    setObjectName(QStringLiteral("frmmain"));
    setWindowTitle(tr("Quorrel"));
    setAccessibleName(tr("Quorrel"));
    // The 32-pixel drawing alone until the window has been painted: the larger
    // ones are wanted by no first frame (paintEvent).
    setWindowIcon(QIcon(ownPng(QStringLiteral(":/quorrel/icon.png"))));
    // A fixed dialog: title bar with its close box only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(twips::size(5700, 3240));
    // The layout was drawn for an 8-point dialog font; the desktop's family is kept.
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(dialogFont);

    SSTab1 = named(new TabControl(this), "SSTab1");
    SSTab1->setAccessibleName(tr("Pages"));
    SSTab1->setGeometry(twips::rect(0, 90, 5700, 3150));
    SSTab1->setUsesScrollButtons(false);

    const struct {
        const char *name;
        QString caption;
        void (frmmain::*build)(QWidget *);
    } pages[] = {
        {"pageProgram", tr("&Program"), &frmmain::buildProgramPage},
        {"pageHosts", tr("&Hosts"), &frmmain::buildHostsPage},
        {"pageOptions", tr("Options"), &frmmain::buildOptionsPage},
        {"pageTune", tr("QuorrelTune"), &frmmain::buildTunePage},
        {"pageAbout", tr("About"), &frmmain::buildAboutPage},
    };
    for (const auto &page : pages) {
        auto *widget = named(new TabPage(SSTab1), page.name);
        widget->setAccessibleName(QString(page.caption).remove(QLatin1Char('&')));
        (this->*page.build)(widget);
        SSTab1->addTab(widget, page.caption);
    }
    SSTab1->setCurrentIndex(0);

    // Holds the last fetched document; it lies below the client area and is
    // never shown, however much it holds.
    cnk = named(new QLabel(this), "cnk");
    cnk->setGeometry(twips::rect(180, 3480, 4155, 1275));
    cnk->setAccessibleName(tr("Last fetched document"));
    // A document is data, never markup to lay out.
    cnk->setTextFormat(Qt::PlainText);
    cnk->setVisible(false);

    Timer1 = new PunctualTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->start(60000);

    buildTrayMenu();
    setKeyboardOrder();
    fitStaticCaptions();
}

void frmmain::fitStaticCaptions()
{
    for (QAbstractButton *button : findChildren<QAbstractButton *>())
        fitStaticCaption(button);
    fitStaticCaption(Label16);
    fitStaticCaption(Label18);
}

void frmmain::buildProgramPage(QWidget *widget)
{
    auto *page = static_cast<TabPage *>(widget);
    Image1 = makePicture("Image1", QStringLiteral(":/quorrel/logo.png"), tr("Quorrel logo"));
    page->place(Image1, twips::rect(840, 480, 4185, 885));
    // The version, centred under the drawing of the logo (which leaves its
    // picture's right end empty) with some air below its slogan.
    Label21 = makeLabel("Label21", tr("Quorrel 2.5"));
    Label21->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    page->place(Label21, twips::rect(1455, 1425, 2130, 255));
    Label1 = makeLabel("Label1", tr("Remote Host:"));
    page->place(Label1, twips::rect(105, 1935, 4095, 195));
    Label2 = makeLabel("Label2", tr("Status:"));
    page->place(Label2, twips::rect(105, 2160, 4275, 195));
    Label3 = makeLabel("Label3", tr("Successful Connections:"));
    page->place(Label3, twips::rect(120, 2520, 3975, 195));
    Label4 = makeLabel("Label4", tr("Failed Connections:"));
    page->place(Label4, twips::rect(120, 2760, 4035, 255));
    Command1 = makeButton("Command1", tr("&Start"));
    page->place(Command1, twips::rect(4530, 1455, 1000, 345));
    Command3 = makeButton("Command3", tr("&Stop"));
    page->place(Command3, twips::rect(4530, 1860, 1000, 345));
    Command9 = makeButton("Command9", tr("&Tray"));
    page->place(Command9, twips::rect(4530, 2280, 1000, 345));
    Command2 = makeButton("Command2", tr("&Close"));
    page->place(Command2, twips::rect(4530, 2700, 1000, 345));
}

void frmmain::buildHostsPage(QWidget *widget)
{
    auto *page = static_cast<TabPage *>(widget);
    List1 = named(new HostListBox, "List1");
    List1->setAccessibleName(tr("Remote hosts"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setSortingEnabled(false);
    List1->setFocusPolicy(Qt::ClickFocus);
    // Every row is one line of text in one font, so all rows are as high as
    // the first: the list need not measure each of thousands of hosts again
    // whenever one is added or removed.
    List1->setUniformItemSizes(true);
    page->place(List1, twips::rect(120, 420, 5415, 1620));
    Command5 = makeButton("Command5", tr("&Add"));
    page->place(Command5, twips::rect(120, 2160, 975, 375));
    Command6 = makeButton("Command6", tr("&Remove"));
    page->place(Command6, twips::rect(1200, 2160, 975, 375));
    Command7 = makeButton("Command7", tr("&Edit"));
    page->place(Command7, twips::rect(2280, 2160, 1095, 375));
    random1 = named(new QCheckBox(tr("Connect to hosts at random")), "random1");
    random1->setAccessibleName(random1->text());
    page->place(random1, twips::rect(120, 2745, 2535, 255));
    Command10 = makeButton("Command10", tr("&Save Settings"));
    page->place(Command10, twips::rect(3960, 2700, 1635, 345));
    Image2 = makePicture("Image2", QStringLiteral(":/quorrel/hosts.png"), tr("Hosts icon"));
    page->place(Image2, twips::rect(4560, 2160, 480, 480));
}

void frmmain::buildOptionsPage(QWidget *widget)
{
    auto *page = static_cast<TabPage *>(widget);
    Frame1 = makeFrame("Frame1", tr("Connection Method"));
    page->place(Frame1, twips::rect(120, 420, 1755, 975));
    Frame2 = makeFrame("Frame2", tr("Proxy Setting"));
    page->place(Frame2, twips::rect(1980, 420, 3615, 975));
    Frame3 = makeFrame("Frame3", tr("Connection Interval"));
    page->place(Frame3, twips::rect(120, 1560, 5475, 1035));

    http = named(new QRadioButton(tr("HTTP")), "http");
    http->setAccessibleName(tr("HTTP"));
    http->setChecked(true);
    page->place(http, twips::rect(540, 660, 1155, 255));
    ftp = named(new QRadioButton(tr("FTP")), "ftp");
    ftp->setAccessibleName(tr("FTP"));
    page->place(ftp, twips::rect(540, 1035, 1215, 255));

    Check1 = named(new QCheckBox(tr("Enable Proxy")), "Check1");
    Check1->setAccessibleName(Check1->text());
    page->place(Check1, twips::rect(2100, 645, 1575, 255));
    Text1 = named(new QLineEdit, "Text1");
    Text1->setAccessibleName(tr("Proxy address"));
    page->place(Text1, twips::rect(2100, 960, 3360, 315));

    Label5 = makeLabel("Label5", tr("Connect every"));
    putInFrame(Label5, Frame3, twips::rect(120, 240, 3015, 255));
    Label6 = makeLabel("Label6", tr("1"));
    putInFrame(Label6, Frame3, twips::rect(120, 705, 135, 255));
    Label7 = makeLabel("Label7", tr("30"));
    putInFrame(Label7, Frame3, twips::rect(5160, 720, 225, 255));
    Slider1 = named(new QSlider(Qt::Horizontal), "Slider1");
    Slider1->setAccessibleName(tr("Connection interval in minutes"));
    Slider1->setRange(1, 30);
    Slider1->setValue(1);
    Slider1->setSingleStep(1);
    Slider1->setPageStep(5);
    page->place(Slider1, twips::rect(240, 2040, 5235, 195));

    Command8 = makeButton("Command8", tr("&Save Settings"));
    page->place(Command8, twips::rect(3960, 2700, 1635, 345));
}

void frmmain::buildTunePage(QWidget *widget)
{
    auto *page = static_cast<TabPage *>(widget);
    Label8 = makeLabel("Label8", tr("ModemConnection Speed"));
    page->place(Label8, twips::rect(120, 360, 1965, 255));
    Combo1 = named(new ListChoiceBox, "Combo1");
    Combo1->setAccessibleName(tr("Modem speed"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->addItems({tr("28.8 Kbps"), tr("33.6 Kbps"), tr("56.6 Kbps")});
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(tr("Select Speed"));
    Combo1->lineEdit()->setAccessibleName(tr("Modem speed"));
    page->place(Combo1, twips::rect(120, 585, 1860, 315));
    Label16 = makeWrappingLabel("Label16",
                                tr("If you are using a modem to connect to the Internet, please "
                                   "select the speed of your modem from the drop down box on "
                                   "the left."));
    page->place(Label16, twips::rect(2115, 360, 3525, 645));
    Frame4 = makeFrame("Frame4", QString());
    Frame4->setAccessibleName(tr("Winsock settings"));
    page->place(Frame4, twips::rect(135, 945, 5415, 1740));
    Label18 =
        makeWrappingLabel("Label18", tr("* Configuration of your winsock will increase connection "
                                        "performance up to 200%"));
    page->place(Label18, twips::rect(135, 2700, 3660, 375));
    Command12 = makeButton("Command12", tr("&Optimize"));
    page->place(Command12, twips::rect(3915, 2700, 1635, 345));

    Label15 = makeHeaderCell("Label15", tr(" Winsock Setting"));
    putInFrame(Label15, Frame4, twips::rect(30, 105, 2685, 255));
    Label13 = makeHeaderCell("Label13", tr(" Current "));
    putInFrame(Label13, Frame4, twips::rect(2730, 105, 1305, 255));
    Label14 = makeHeaderCell("Label14", tr(" Reccomended "));
    putInFrame(Label14, Frame4, twips::rect(4050, 105, 1320, 255));

    const struct {
        QLabel **title;
        const char *titleName;
        QString caption;
        int titleWidth;
        QLabel **current;
        const char *currentName;
        QLabel **recommended;
        const char *recommendedName;
        int top;
    } rows[] = {
        {&label9, "label9", tr("Maximum Transmission Unit [MTU]"), 2775, &CMTU, "CMTU", &mtu, "mtu",
         405},
        {&Label10, "Label10", tr("Maximum Segment Size [MSS]"), 2775, &CMSS, "CMSS", &MSS, "MSS",
         720},
        {&Label11, "Label11", tr("Receive Window [RWIN]"), 2535, &CRWIN, "CRWIN", &RWIN, "RWIN",
         1035},
        {&Label12, "Label12", tr("Time To Live [TTL]"), 1575, &CTTL, "CTTL", &TTL, "TTL", 1350},
    };
    for (const auto &row : rows) {
        *row.title = makeLabel(row.titleName, row.caption);
        putInFrame(*row.title, Frame4, twips::rect(45, row.top, row.titleWidth, 255));
        *row.current = makeValueCell(row.currentName, QLatin1String(row.currentName),
                                     tr("Current %1, as now set in the system").arg(row.caption));
        putInFrame(*row.current, Frame4, twips::rect(2745, row.top, 1320, 285));
        *row.recommended =
            makeValueCell(row.recommendedName, tr("select speed"),
                          tr("Recommended %1, for the chosen modem speed").arg(row.caption));
        putInFrame(*row.recommended, Frame4, twips::rect(4050, row.top, 1320, 285));
    }
}

void frmmain::buildAboutPage(QWidget *widget)
{
    auto *page = static_cast<TabPage *>(widget);
    Text2 = named(new QPlainTextEdit, "Text2");
    Text2->setAccessibleName(tr("About Quorrel"));
    // Tab moves on to "&Homepage"; the text is no place for tab characters.
    Text2->setTabChangesFocus(true);
    page->place(Text2, twips::rect(120, 360, 5430, 2175));
    Label19 = makeLabel("Label19", tr("Quorrel 2.5"));
    page->place(Label19, twips::rect(135, 2655, 2400, 195));
    Label20 = makeLabel("Label20", tr("Made by the Quorrel developers."));
    page->place(Label20, twips::rect(135, 2835, 2985, 195));
    Command4 = makeButton("Command4", tr("&Homepage"));
    page->place(Command4, twips::rect(3915, 2700, 1635, 345));
}

void frmmain::buildTrayMenu()
{
    mnusystemtray = named(new LeftButtonMenu(tr("mnusystemtray"), this), "mnusystemtray");
    mnusystemtray->setAccessibleName(tr("Quorrel tray menu"));
    const auto item = [this](const char *name, const QString &caption, bool carriesCheckMark) {
        auto *action = mnusystemtray->addAction(caption);
        action->setObjectName(QLatin1String(name));
        action->setCheckable(carriesCheckMark);
        return action;
    };
    start = item("start", tr("Start"), true);
    stop1 = item("stop1", tr("Stop"), true);
    open = item("open", tr("Open Quorrel"), false);
    close = item("close", tr("Close Quorrel"), false);
}

void frmmain::setKeyboardOrder()
{
    const QList<QWidget *> order = {SSTab1,   Command1, Command3, Command9, Command2,
                                    Command5, Command6, Command7, random1,  Command10,
                                    http,     ftp,      Check1,   Text1,    Slider1,
                                    Command8, Text2,    Command4, Combo1,   Command12};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void frmmain::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    if (iconComplete_)
        return;
    iconComplete_ = true;
    // After this frame has reached the screen.
    QMetaObject::invokeMethod(
        this,
        [this] {
            setWindowIcon(windowIconSet());
            QApplication::setWindowIcon(windowIcon());
        },
        Qt::QueuedConnection);
}
