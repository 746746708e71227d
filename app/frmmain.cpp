#include "app/frmmain.h"
#include "platform/PunctualTimer.h"
#include "platform/Tray.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QTimer>

frmmain::frmmain(const Services &services, QWidget *parent) : QWidget(parent), services_(services)
{
    Inet1 = services.inet;
    buildWindow();
    connectHandlers();
    Form_Load();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
}

// The History window has no parent, so that it stays when this one hides.
frmmain::~frmmain()
{
    delete history_.data();
}

void frmmain::connectHandlers()
{
    const auto onClick = [this](QPushButton *button, void (frmmain::*handler)()) {
        connect(button, &QPushButton::clicked, this, handler);
    };
    onClick(Command1, &frmmain::Command1_Click);
    onClick(Command2, &frmmain::Command2_Click);
    onClick(Command3, &frmmain::Command3_Click);
    onClick(Command4, &frmmain::Command4_Click);
    onClick(Command5, &frmmain::Command5_Click);
    onClick(Command6, &frmmain::Command6_Click);
    onClick(Command7, &frmmain::Command7_Click);
    onClick(Command8, &frmmain::Command8_Click);
    onClick(Command9, &frmmain::Command9_Click);
    onClick(Command10, &frmmain::Command10_Click);
    onClick(Command12, &frmmain::Command12_Click);

    // Setting the check box from code raises its click too, as start-up relies on.
    connect(Check1, &QCheckBox::toggled, this, &frmmain::Check1_Click);
    // Only picking an item from the list runs the speed pick; typing does not.
    connect(Combo1, &QComboBox::activated, this, &frmmain::Combo1_Click);
    connect(Timer1, &PunctualTimer::timeout, this, &frmmain::Timer1_Timer);
    connect(Slider1, &QSlider::sliderReleased, this, &frmmain::Slider1_MouseUp);
    // Keyboard and clicks on the groove move the slider without a drag.
    connect(Slider1, &QSlider::valueChanged, this, [this] {
        if (!Slider1->isSliderDown())
            showInterval();
    });

    for (QLabel *label : {Label2, Label3, Label4}) {
        label->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(label, &QLabel::customContextMenuRequested, this,
                [this, label](const QPoint &position) { Label_ContextMenu(label, position); });
    }

    connect(services_.tray, &Tray::mouseMessage, this, &frmmain::Tray_MouseMessage);
    services_.tray->offerMenu(mnusystemtray);

    connect(start, &QAction::triggered, this, &frmmain::start_Click);
    connect(stop1, &QAction::triggered, this, &frmmain::stop1_Click);
    connect(open, &QAction::triggered, this, &frmmain::open_Click);
    connect(close, &QAction::triggered, this, &frmmain::close_Click);
}

void frmmain::closeEvent(QCloseEvent *event)
{
    int cancel = 0;
    Form_QueryUnload(cancel, 0);
    event->setAccepted(cancel == 0);
    if (event->isAccepted()) {
        // A fetch in progress must not keep the program, nor re-arm the cycle.
        abandonAttempt();
        emit unloaded();
    }
}
