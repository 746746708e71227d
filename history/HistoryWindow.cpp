#include "history/HistoryWindow.h"
#include "history/LineHistory.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

namespace
{

// Readable on light and dark palettes alike.
const QColor answeredColour(0x2e, 0xa0, 0x43);
const QColor failedColour(0xd7, 0x3a, 0x49);

QString count(qint64 number)
{
    return QLocale().toString(number);
}

QString lengthText(qint64 seconds)
{
    if (seconds < 60)
        return seconds == 1 ? HistoryWindow::tr("1 second")
                            : HistoryWindow::tr("%1 seconds").arg(seconds);
    const qint64 minutes = seconds / 60;
    if (minutes < 60)
        return minutes == 1 ? HistoryWindow::tr("1 minute")
                            : HistoryWindow::tr("%1 minutes").arg(minutes);
    return HistoryWindow::tr("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString momentText(qint64 secondsSinceEpoch)
{
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(secondsSinceEpoch),
                              QLocale::ShortFormat);
}

QString shareText(std::optional<double> share)
{
    return share ? QStringLiteral("%1 %").arg(QLocale().toString(*share * 100, 'f', 1))
                 : HistoryWindow::tr("no attempts");
}

// "last 24 hours: 1,402 answered, 3 failed, 1 outage of 12 minutes"
QString dayInWords(const LineHistory &history)
{
    const LineHistory::Tally tally = history.tallySince(history.now() - LineHistory::day);
    int outages = 0;
    qint64 longest = 0;
    for (const LineHistory::Outage &outage : history.outages()) {
        if (outage.end.value_or(history.now()) >= history.now() - LineHistory::day) {
            ++outages;
            longest = std::max(longest, outage.seconds);
        }
    }
    const QString outageWords = outages == 0 ? HistoryWindow::tr("no outage")
                                : outages == 1
                                    ? HistoryWindow::tr("1 outage of %1").arg(lengthText(longest))
                                    : HistoryWindow::tr("%1 outages, the longest %2")
                                          .arg(count(outages), lengthText(longest));
    return HistoryWindow::tr("last 24 hours: %1 answered, %2 failed, %3")
        .arg(count(tally.answered), count(tally.failed), outageWords);
}

QString attemptInWords(const LoggedAttempt &logged)
{
    const AttemptEntry &entry = logged.entry;
    const QString outcome = entry.succeeded ? HistoryWindow::tr("answered")
                                            : HistoryWindow::tr("failed: %1").arg(entry.reason);
    return HistoryWindow::tr("%1, %2 %3\n%4")
        .arg(momentText(logged.secondsSinceEpoch), entry.method, entry.host, outcome);
}

} // namespace

// The last 24 hours from left to right, one cell per attempt, or per pixel
// where attempts come closer than that; a failure outweighs the answers that
// share its pixel, so that a short outage is never hidden.
class HistoryStrip final : public QWidget
{
public:
    explicit HistoryStrip(QWidget *parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("strip"));
        setAccessibleName(HistoryWindow::tr("Last 24 hours"));
        setMinimumHeight(fontMetrics().height() * 2);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void show(std::shared_ptr<const LineHistory> history)
    {
        history_ = std::move(history);
        setAccessibleDescription(dayInWords(*history_));
        update();
    }

    QSize sizeHint() const override { return {480, minimumHeight()}; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Mid));
        if (!history_)
            return;
        for (const LineHistory::Outcome outcome :
             {LineHistory::Outcome::Answered, LineHistory::Outcome::Failed}) {
            for (const LineHistory::Span &span : history_->lastDaySpans()) {
                if (span.outcome != outcome)
                    continue;
                const qreal left = xOf(span.from);
                painter.fillRect(QRectF(left, 0, std::max<qreal>(xOf(span.to) - left, 1), height()),
                                 outcome == LineHistory::Outcome::Answered ? answeredColour
                                                                           : failedColour);
            }
        }
    }

    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::ToolTip)
            return QWidget::event(event);
        const auto *help = static_cast<QHelpEvent *>(event);
        const LoggedAttempt *attempt = attemptAt(help->pos().x());
        const QString text = attempt ? attemptInWords(*attempt)
                                     : HistoryWindow::tr("Quorrel was not running or was stopped");
        // As plain text: a host may hold anything, markup included.
        QToolTip::showText(
            help->globalPos(),
            QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped()), this);
        return true;
    }

private:
    qreal xOf(qint64 time) const
    {
        const qint64 dayAgo = history_->now() - LineHistory::day;
        return qreal(time - dayAgo) * width() / LineHistory::day;
    }

    // The attempt of the pixel at x: a failed one before an answered one.
    const LoggedAttempt *attemptAt(int x) const
    {
        if (!history_)
            return nullptr;
        const LoggedAttempt *found = nullptr;
        for (const LineHistory::Span &span : history_->lastDaySpans()) {
            if (xOf(span.from) < x + 1 && std::max(xOf(span.to), xOf(span.from) + 1) > x &&
                (!found || span.outcome == LineHistory::Outcome::Failed))
                found = span.attempt;
        }
        return found;
    }

    std::shared_ptr<const LineHistory> history_;
};

HistoryWindow::HistoryWindow(const AttemptLog &log, QWidget *parent)
    : QWidget(parent, Qt::Window), log_(log)
{
    setObjectName(QStringLiteral("history"));
    setWindowTitle(tr("Quorrel History"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto *layout = new QVBoxLayout(this);
    strip_ = new HistoryStrip(this);
    const auto addLabel = [&](const char *name) {
        auto *label = new QLabel(this);
        label->setObjectName(QLatin1StringView(name));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        layout->addWidget(label);
        return label;
    };
    auto *caption = addLabel("stripCaption");
    caption->setText(tr("Last 24 hours: green answered, red failed, grey not running or stopped"));
    caption->setBuddy(strip_);
    layout->addWidget(strip_);
    // The strip's ends, under it.
    auto *ends = new QHBoxLayout;
    ends->addWidget(new QLabel(tr("24 hours ago"), this));
    ends->addStretch();
    ends->addWidget(new QLabel(tr("now"), this));
    layout->addLayout(ends);
    answered_ = addLabel("answered");
    cost_ = addLabel("cost");
    outagesHeading_ = addLabel("outagesHeading");
    outages_ = new QTreeWidget(this);
    outages_->setObjectName(QStringLiteral("outages"));
    outages_->setAccessibleName(tr("Outages"));
    outages_->setRootIsDecorated(false);
    outages_->setHeaderLabels({tr("Start"), tr("End"), tr("Length"), tr("Hosts"), tr("Reasons")});
    outages_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    outages_->header()->setStretchLastSection(true);
    outagesHeading_->setBuddy(outages_);
    layout->addWidget(outages_);
    skipped_ = addLabel("skipped");
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setAccessibleName(tr("Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    // As any window of a glance closes.
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this,
            &QWidget::close);
    layout->addWidget(buttons);
    reload();
    // Room for a day of outages and their reasons at the desktop's font size.
    resize(fontMetrics().averageCharWidth() * 100, fontMetrics().height() * 26);
}

void HistoryWindow::reload()
{
    const auto history = std::make_shared<const LineHistory>(log_.readBack(LineHistory::week));
    strip_->show(history);
    showTallies(*history);
    showOutages(*history);
    const int skipped = history->skippedLines();
    skipped_->setText(
        skipped == 1
            ? tr("1 line of the log could not be read and was skipped.")
            : tr("%1 lines of the log could not be read and were skipped.").arg(count(skipped)));
    skipped_->setVisible(skipped > 0);
}

void HistoryWindow::showTallies(const LineHistory &history)
{
    const LineHistory::Tally day = history.tallySince(history.now() - LineHistory::day);
    const LineHistory::Tally week = history.tallySince(history.now() - LineHistory::week);
    answered_->setText(tr("Answered: %1 in the last 24 hours, %2 in the last 7 days")
                           .arg(shareText(day.answeredShare()), shareText(week.answeredShare())));
    cost_->setText(tr("On the wire: %1 today, %2 in the last 7 days")
                       .arg(QLocale().formattedDataSize(history.bytesToday()),
                            QLocale().formattedDataSize(week.bytes)));
}

void HistoryWindow::showOutages(const LineHistory &history)
{
    const std::vector<LineHistory::Outage> &outages = history.outages();
    outagesHeading_->setText(
        outages.empty() ? tr("Outages in the last 7 days: none")
                        : tr("Outages in the last 7 days: %1").arg(count(qint64(outages.size()))));
    outages_->clear();
    for (const LineHistory::Outage &outage : outages) {
        outages_->addTopLevelItem(new QTreeWidgetItem(QStringList{
            momentText(outage.start),
            outage.end ? momentText(*outage.end) : tr("still down"),
            lengthText(outage.seconds),
            count(outage.hosts),
            outage.reasons.join(QStringLiteral(", ")),
        }));
    }
}
