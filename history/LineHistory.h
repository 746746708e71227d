#pragma once

#include "platform/store/AttemptLog.h"

#include <QStringList>
#include <optional>
#include <vector>

// The line's history as the attempts log tells it: when it answered, when it
// did not, when nothing was tried, and what the attempts cost. Times are
// seconds since the epoch.
class LineHistory
{
public:
    static constexpr qint64 day = 24 * 60 * 60;
    static constexpr qint64 week = 7 * day;

    enum class Outcome { Answered, Failed };

    // The stretch of time an attempt speaks for: from its stamp until the next
    // attempt, or less where Quorrel was stopped or not running in between.
    struct Span {
        qint64 from = 0;
        qint64 to = 0;
        Outcome outcome = Outcome::Answered;
        const LoggedAttempt *attempt = nullptr;
    };

    // Failed attempts in a row, ended by the next answered one.
    struct Outage {
        qint64 start = 0;
        std::optional<qint64> end; // none while the line is still down
        qint64 seconds = 0;        // until the end, or until now
        int hosts = 0;
        QStringList reasons; // as first seen
    };

    struct Tally {
        int answered = 0;
        int failed = 0;
        qint64 bytes = 0;
        // Answered attempts as a share of those that tried, 0 to 1; none without any.
        std::optional<double> answeredShare() const;
    };

    explicit LineHistory(LoggedAttempts logged);

    qint64 now() const { return logged_.readAt; }
    int skippedLines() const { return logged_.skippedLines; }
    // The spans of the last 24 hours, oldest first.
    const std::vector<Span> &lastDaySpans() const { return spans_; }
    Tally tallySince(qint64 since) const;
    qint64 bytesToday() const { return tallySince(logged_.startOfToday).bytes; }
    // The outages of the last 7 days, newest first.
    const std::vector<Outage> &outages() const { return outages_; }

private:
    void findSpans();
    void findOutages();

    LoggedAttempts logged_;
    std::vector<Span> spans_;
    std::vector<Outage> outages_;
};
