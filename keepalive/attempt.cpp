// The connection attempt: one keep-alive probe of a host. httpd and ftpd are
// the same attempt but for the tag shown and the request time-out.

#include "app/blanks.h"
#include "app/frmmain.h"
#include "platform/Clock.h"
#include "platform/PunctualTimer.h"
#include "platform/Random.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <limits>
#include <utility>

namespace
{

// A document that sorts after this many blanks means the host answered.
constexpr int judgedBlanks = 7;
constexpr std::int16_t countLimit = std::numeric_limits<std::int16_t>::max();

void raiseSaturating(std::int16_t &count)
{
    if (count < countLimit)
        ++count;
}

QString remoteHostLine(Inet::Method method, const QString &host)
{
    return method == Inet::Method::Http ? frmmain::tr("Remote Host: [HTTP] %1").arg(host)
                                        : frmmain::tr("Remote Host: [FTP] %1").arg(host);
}

// The fetch of host as the window's controls ask for it: through the proxy
// only when it is ticked and has an address.
FetchRequest requestFor(const frmmain &window, const QString &host, Inet::Method method)
{
    using namespace std::chrono_literals;
    FetchRequest request{
        .address = host, .method = method, .timeout = method == Inet::Method::Http ? 15s : 20s};
    if (window.Check1->isChecked() && !window.Text1->text().isEmpty())
        request.proxy = window.Text1->text();
    return request;
}

void showOutcome(const frmmain &window, bool succeeded, std::int16_t successes,
                 std::int16_t failures, const Clock &clock)
{
    window.Label4->setText(frmmain::tr("Failed Connections: %1").arg(failures));
    if (succeeded) {
        window.Label3->setText(frmmain::tr("Successful Connections: %1").arg(successes));
        window.Label2->setText(
            frmmain::tr("Status: successfully connected at %1").arg(clock.timeOfDay()));
    } else {
        window.Label2->setText(frmmain::tr("Status: could not connect"));
    }
}

} // namespace

void frmmain::httpd()
{
    attempt(Inet::Method::Http);
}

void frmmain::ftpd()
{
    attempt(Inet::Method::Ftp);
}

Inet::Method frmmain::chosenMethod() const
{
    return http->isChecked() ? Inet::Method::Http : Inet::Method::Ftp;
}

void frmmain::attemptByChosenMethod()
{
    chosenMethod() == Inet::Method::Http ? httpd() : ftpd();
}

void frmmain::attempt(Inet::Method method)
{
    // The window keeps handling events while a fetch waits, so a Start can
    // come during an attempt: its attempt follows this one, never inside it.
    if (attemptInProgress_) {
        attemptQueued_ = true;
        return;
    }
    attemptInProgress_ = true;
    stopPrevails_ = false;
    connectOnce(method);
    while (std::exchange(attemptQueued_, false))
        connectOnce(chosenMethod());
    attemptInProgress_ = false;
}

void frmmain::connectOnce(Inet::Method method)
{
    Timer1->stop();

    const bool atRandom = random1->isChecked();
    const std::optional<int> row = chooseHost(atRandom);
    if (!row) {
        // The cycle halts, while the buttons still show it running.
        showHalted(tr("Remote Host:  No Hosts Configured"), tr("Status: No Hosts Configured"));
        return;
    }
    List1->setCurrentRow(*row);
    // A copy: the list may be edited while the fetch waits.
    const QString host = List1->item(*row)->text();
    Label2->setText(QString());
    Label1->setText(remoteHostLine(method, host));

    // A failed fetch leaves no document to judge.
    const FetchRequest request = requestFor(*this, host, method);
    QElapsedTimer fetching;
    fetching.start();
    const FetchResult fetched = Inet1->OpenURL(request);
    if (const QString *document = std::get_if<QString>(&fetched.outcome))
        cnk->setText(*document);
    const bool succeeded = sortsAfterBlanks(cnk->text(), judgedBlanks);
    reportAttempt(request, fetched, succeeded, fetching.elapsed());
    raiseSaturating(succeeded ? good_ : bad_);
    // After a Stop or a close during the fetch the window stays as they left it.
    if (!stopPrevails_)
        showOutcome(*this, succeeded, good_, bad_, *services_.clock);
    if (!atRandom)
        ++intv_;
    if (!stopPrevails_)
        Timer1->start();
    cnt_ = 0;
    cnk->setText(QString());
    // Past the last host the list keeps the host just used selected.
    if (!atRandom && intv_ < List1->count())
        List1->setCurrentRow(intv_);
}

std::optional<int> frmmain::chooseHost(bool atRandom)
{
    const int count = List1->count();
    if (atRandom) {
        services_.random->seedFromClock();
        if (count == 0)
            return std::nullopt;
        return static_cast<int>(static_cast<double>(services_.random->draw()) * count);
    }
    if (intv_ < 0 || intv_ > count - 1)
        intv_ = 0;
    if (count == 0)
        return std::nullopt;
    return intv_;
}

void frmmain::showHalted(const QString &hostLine, const QString &statusLine)
{
    Label1->setText(hostLine);
    Label2->setText(statusLine);
    Timer1->stop();
    Label4->setText(tr("Failed Connections: "));
    Label3->setText(tr("Successful Connections: "));
}

void frmmain::abandonAttempt()
{
    stopPrevails_ = true;
    attemptQueued_ = false;
    Inet1->Cancel();
}

void frmmain::setCountsForTest(std::int16_t successes, std::int16_t failures)
{
    good_ = successes;
    bad_ = failures;
}
