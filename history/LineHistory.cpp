#include "history/LineHistory.h"

#include <QCoreApplication>
#include <QSet>
#include <algorithm>

namespace
{

// The longest interval is 30 ticks of 59 s; with the fetch time over, an
// attempt comes at most 31 minutes after the one before while the cycle runs.
constexpr qint64 longestSpacing = 31 * 60;

// An attempt ended by Stop or by closing says nothing about the line. The
// reason is written in the words of the program's language.
bool wasStopped(const AttemptEntry &entry)
{
    return !entry.succeeded && (entry.reason == u"stopped" ||
                                entry.reason == QCoreApplication::translate("frmmain", "stopped"));
}

// How long after an attempt the next one was due: twice the spacing of the
// two before it (the interval in use, with room for a slow fetch), at least
// two minutes and at most the longest interval.
qint64 dueWithin(const std::vector<LoggedAttempt> &attempts, size_t index)
{
    if (index == 0)
        return longestSpacing;
    const qint64 spacing =
        attempts[index].secondsSinceEpoch - attempts[index - 1].secondsSinceEpoch;
    return std::clamp<qint64>(2 * spacing, 120, longestSpacing);
}

} // namespace

std::optional<double> LineHistory::Tally::answeredShare() const
{
    if (answered + failed == 0)
        return std::nullopt;
    return double(answered) / double(answered + failed);
}

LineHistory::LineHistory(LoggedAttempts logged) : logged_(std::move(logged))
{
    findSpans();
    findOutages();
}

LineHistory::Tally LineHistory::tallySince(qint64 since) const
{
    Tally tally;
    for (const LoggedAttempt &logged : logged_.attempts) {
        if (logged.secondsSinceEpoch < since)
            continue;
        tally.bytes += logged.entry.bytes;
        if (wasStopped(logged.entry))
            continue;
        ++(logged.entry.succeeded ? tally.answered : tally.failed);
    }
    return tally;
}

// An attempt speaks for the time until the next one when that came when it
// was due; a later one means the cycle was stopped or Quorrel was not
// running, and the attempt speaks for one spacing only. A clock set back
// gives a next attempt before this one: the attempt then speaks for nothing.
void LineHistory::findSpans()
{
    const std::vector<LoggedAttempt> &attempts = logged_.attempts;
    const qint64 dayAgo = now() - day;
    for (size_t index = 0; index < attempts.size(); ++index) {
        const LoggedAttempt &logged = attempts[index];
        if (wasStopped(logged.entry))
            continue;
        const qint64 from = logged.secondsSinceEpoch;
        const qint64 next = index + 1 < attempts.size() ? attempts[index + 1].secondsSinceEpoch
                                                        : std::max(now(), from);
        const qint64 due = dueWithin(attempts, index);
        const qint64 to = next - from <= due ? next : from + std::min(due / 2, next - from);
        if (to > dayAgo && to > from)
            spans_.push_back({std::max(from, dayAgo), to,
                              logged.entry.succeeded ? Outcome::Answered : Outcome::Failed,
                              &logged});
    }
}

void LineHistory::findOutages()
{
    std::optional<Outage> open;
    QSet<QString> hosts;
    const auto close = [&](std::optional<qint64> end) {
        open->end = end;
        open->seconds = std::max<qint64>(0, end.value_or(now()) - open->start);
        open->hosts = int(hosts.size());
        if (end.value_or(now()) >= now() - week)
            outages_.push_back(std::move(*open));
        open.reset();
        hosts.clear();
    };
    for (const LoggedAttempt &logged : logged_.attempts) {
        const AttemptEntry &entry = logged.entry;
        if (wasStopped(entry))
            continue;
        if (entry.succeeded) {
            if (open)
                close(logged.secondsSinceEpoch);
            continue;
        }
        if (!open) {
            open.emplace();
            open->start = logged.secondsSinceEpoch;
        }
        hosts.insert(entry.host);
        if (!open->reasons.contains(entry.reason))
            open->reasons.append(entry.reason);
    }
    if (open)
        close(std::nullopt);
    std::reverse(outages_.begin(), outages_.end());
}
