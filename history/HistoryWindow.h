#pragma once

#include <QWidget>

class AttemptLog;
class HistoryStrip;
class LineHistory;
class QLabel;
class QTreeWidget;

// The line's history at a glance, from the attempts log alone: a strip of the
// last 24 hours (green answered, red failed, grey not running or stopped), the
// share of attempts answered, the outages, and what the attempts cost on the
// wire. It reads the log again whenever reload() is called.
class HistoryWindow final : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryWindow(const AttemptLog &log, QWidget *parent = nullptr);

    void reload();

private:
    void showTallies(const LineHistory &history);
    void showOutages(const LineHistory &history);

    const AttemptLog &log_;
    HistoryStrip *strip_ = nullptr;
    QLabel *answered_ = nullptr;
    QLabel *cost_ = nullptr;
    QLabel *outagesHeading_ = nullptr;
    QTreeWidget *outages_ = nullptr;
    QLabel *skipped_ = nullptr;
};
