// What an attempt tells beyond the window: a line in the attempts log, and a
// notification when the line is lost and when it is back.

#include "app/frmmain.h"
#include "keepalive/LineWatch.h"
#include "keepalive/outgoing.h"
#include "platform/Clock.h"
#include "platform/Notifier.h"
#include "platform/store/AttemptLog.h"

#include <memory>

namespace
{

QString methodName(Inet::Method method)
{
    return method == Inet::Method::Http ? QStringLiteral("HTTP") : QStringLiteral("FTP");
}

// A proxy stands between the user and the host: its failures are its own.
QString fetchFailureWords(const FetchError &error, const FetchRequest &request)
{
    const bool viaProxy = request.proxy.has_value();
    switch (error.reason) {
    case FetchFailure::TimedOut:
        return frmmain::tr("timed out after %1 s").arg(request.timeout.count());
    case FetchFailure::NameNotFound:
        return viaProxy ? frmmain::tr("proxy not found") : frmmain::tr("host not found");
    case FetchFailure::Refused:
        return viaProxy ? frmmain::tr("proxy refused") : frmmain::tr("connection refused");
    case FetchFailure::Tls:
        return frmmain::tr("secure connection failed");
    case FetchFailure::HttpStatus:
        return frmmain::tr("HTTP %1").arg(error.httpStatus);
    case FetchFailure::Cancelled:
        return frmmain::tr("stopped");
    case FetchFailure::SchemeRefused:
        return frmmain::tr("address scheme not allowed");
    case FetchFailure::BadAddress:
        return frmmain::tr("invalid address");
    case FetchFailure::Busy:
        return frmmain::tr("another fetch was running");
    case FetchFailure::ModuleMismatch:
        return frmmain::tr("fetch module mismatch");
    case FetchFailure::Other:
        break;
    }
    return frmmain::tr("transfer failed");
}

QString failureWords(const FetchRequest &request, const FetchResult &fetched)
{
    if (const FetchError *error = std::get_if<FetchError>(&fetched.outcome))
        return fetchFailureWords(*error, request);
    // The document came but was not judged an answer.
    const QString &document = std::get<QString>(fetched.outcome);
    if (document.isEmpty())
        return frmmain::tr("empty document");
    return document.trimmed().isEmpty() ? frmmain::tr("empty page")
                                        : frmmain::tr("page starts with a control character");
}

// A Stop says nothing about the line.
LineWatch::Outcome outcomeOf(const FetchResult &fetched, bool succeeded)
{
    const FetchError *error = std::get_if<FetchError>(&fetched.outcome);
    if (error && error->reason == FetchFailure::Cancelled)
        return LineWatch::Outcome::Stopped;
    return succeeded ? LineWatch::Outcome::Answered : LineWatch::Outcome::Failed;
}

void tellDesktop(const Services &services, LineWatch::Change change, const QString &host,
                 const QString &reason)
{
    if (!services.notifier)
        return;
    const QString time = services.clock->timeOfDay();
    if (change == LineWatch::Change::Back)
        services.notifier->notify(frmmain::tr("Connection back"),
                                  frmmain::tr("%1 answered at %2.").arg(host, time));
    else
        services.notifier->notify(
            frmmain::tr("Connection lost"),
            frmmain::tr("%1 did not answer at %2 (%3).").arg(host, time, reason));
}

} // namespace

void frmmain::reportAttempt(const FetchRequest &request, const FetchResult &fetched, bool succeeded,
                            qint64 durationMs)
{
    const AttemptEntry entry{
        .method = methodName(request.method),
        .host = outgoingText(request.address),
        .succeeded = succeeded,
        .reason = succeeded ? QString() : outgoingText(failureWords(request, fetched)),
        .durationMs = durationMs,
        .bytes = fetched.receivedBytes,
    };
    // The log is for the user to read; a full disk or a read-only folder must
    // not disturb the cycle, and the window has no place to say so.
    if (services_.attemptLog)
        static_cast<void>(services_.attemptLog->append(entry));
    emit attemptReported();
    if (!lineWatch_)
        return;
    if (const std::optional<LineWatch::Change> change =
            lineWatch_->observe(outcomeOf(fetched, succeeded)))
        tellDesktop(services_, *change, entry.host, entry.reason);
}

void frmmain::watchLine(int failuresBeforeLost)
{
    if (!lineWatch_)
        lineWatch_ = std::make_shared<LineWatch>();
    lineWatch_->setFailuresBeforeLost(failuresBeforeLost);
}
