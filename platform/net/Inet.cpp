// The transfer facility over libcurl. Each fetch gets its own easy handle,
// driven by a multi handle on a worker thread: the multi handle's wake-up
// (curl_multi_wakeup(3), which ends a curl_multi_poll(3)) lets a cancel from
// the window's thread end the transfer at once, whatever phase it is in, and
// nothing polls while no fetch runs.

#include "platform/net/Inet.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

namespace
{

constexpr qsizetype documentLimit = 1024 * 1024;
constexpr long maxRedirects = 5;
constexpr char fetchedSchemes[] = "http,https,ftp,ftps";
// The longest the worker sleeps when libcurl has nothing for it to do;
// libcurl's own timers and a cancel wake it earlier.
constexpr int idleWaitMs = 1000;

bool curlReady()
{
    // libcurl's global set-up must run once, before any worker thread exists
    // (curl_global_init(3)).
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

// The lower-cased scheme of "scheme://…", or empty: "name:port" has none.
QString schemeOf(const QString &address)
{
    static const QRegularExpression pattern(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    return pattern.match(address).captured(1).toLower();
}

// What libcurl is given for an address, or nothing for a scheme that is
// never fetched. libcurl checks the scheme again, redirects included.
std::optional<QByteArray> urlFor(const QString &address, Inet::Method method)
{
    const QString scheme = schemeOf(address);
    if (scheme.isEmpty())
        return QByteArray(method == Inet::Method::Http ? "http://" : "ftp://") + address.toUtf8();
    static const QStringList fetched = QString::fromLatin1(fetchedSchemes).split(u',');
    if (!fetched.contains(scheme))
        return std::nullopt;
    return address.toUtf8();
}

// libcurl takes its texts as C strings (curl_easy_setopt(3)), which end at the
// first NUL: a text holding one would reach it cut short, and a proxy cut to
// nothing would send the fetch direct.
bool passesWhole(const QByteArray &text)
{
    return !text.contains('\0');
}

// Blanks around a proxy text or a line break in it are a slip of the keyboard
// or the clipboard: libcurl would look up a name that is not the proxy's.
bool isBareProxy(const QByteArray &proxy)
{
    return proxy == proxy.trimmed() && !proxy.contains('\n') && !proxy.contains('\r');
}

// Why libcurl ended a transfer without a document (libcurl-errors(3)).
FetchFailure failureOf(CURLcode result)
{
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
        return FetchFailure::TimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FetchFailure::NameNotFound;
    case CURLE_COULDNT_CONNECT:
        return FetchFailure::Refused;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return FetchFailure::Tls;
    case CURLE_HTTP_RETURNED_ERROR:
        return FetchFailure::HttpStatus;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return FetchFailure::SchemeRefused;
    default:
        return FetchFailure::Other;
    }
}

// As received: a leading byte-order mark is part of the document.
QString decoded(const QByteArray &document)
{
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return utf8.decode(document);
}

} // namespace

class CurlInet::Transfer
{
public:
    Transfer() : easy_(curl_easy_init()), multi_(curl_multi_init()) {}
    ~Transfer();
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;

    // False when libcurl refuses any setting: a fetch never runs with less
    // than it was asked for.
    bool prepare(const QByteArray &url, const QByteArray &proxy, std::chrono::seconds timeout);
    // Runs the transfer on a worker thread while this thread handles its
    // events. False when no worker thread could be started.
    bool runAside();
    // From any thread: the transfer ends as a failure.
    void cancel();
    FetchResult outcome() const;

private:
    void run();
    // Ends the worker's loop; what has been received stays as it is.
    void stop();
    static size_t receive(char *data, size_t size, size_t count, void *transfer);

    CURL *const easy_;
    CURLM *const multi_;
    bool attached_ = false;
    std::atomic<bool> stopping_ = false;
    std::atomic<bool> cancelled_ = false;
    // Written by the worker, read after it has been joined.
    QByteArray body_;
    bool cut_ = false;
    CURLcode result_ = CURLE_FAILED_INIT;
};

CurlInet::Transfer::~Transfer()
{
    // Teardown failures leave nothing to do: the handles are freed regardless.
    if (attached_)
        static_cast<void>(curl_multi_remove_handle(multi_, easy_));
    curl_easy_cleanup(easy_);
    static_cast<void>(curl_multi_cleanup(multi_));
}

bool CurlInet::Transfer::prepare(const QByteArray &url, const QByteArray &proxy,
                                 std::chrono::seconds timeout)
{
    if (!easy_ || !multi_)
        return false;
    const CURLcode results[] = {
        curl_easy_setopt(easy_, CURLOPT_URL, url.constData()),
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, fetchedSchemes),
        curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, fetchedSchemes),
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L),
        curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, maxRedirects),
        curl_easy_setopt(easy_, CURLOPT_TIMEOUT, static_cast<long>(timeout.count())),
        curl_easy_setopt(easy_, CURLOPT_FAILONERROR, 1L),
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L),
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L),
        // An empty proxy means none, whatever the environment says
        // (CURLOPT_PROXY(3)); an empty exemption list lets no host bypass a
        // named proxy (CURLOPT_NOPROXY(3)).
        curl_easy_setopt(easy_, CURLOPT_PROXY, proxy.constData()),
        curl_easy_setopt(easy_, CURLOPT_NOPROXY, ""),
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::receive),
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this),
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L),
        // A cancel must not wait for a name lookup to come back
        // (CURLOPT_QUICK_EXIT(3)).
        curl_easy_setopt(easy_, CURLOPT_QUICK_EXIT, 1L),
    };
    if (!std::ranges::all_of(results, [](CURLcode result) { return result == CURLE_OK; }))
        return false;
    attached_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    return attached_;
}

bool CurlInet::Transfer::runAside()
{
    QEventLoop waiting;
    std::thread worker;
    try {
        worker = std::thread([this, &waiting] {
            run();
            // Posting to a live object: the loop is destroyed only after the join.
            static_cast<void>(
                QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection));
        });
    } catch (const std::system_error &) {
        return false;
    }
    waiting.exec();
    // The loop also ends early when the application quits; the transfer must
    // be over before this returns.
    stop();
    worker.join();
    return true;
}

void CurlInet::Transfer::run()
{
    int running = 1;
    while (running > 0 && !stopping_) {
        if (curl_multi_perform(multi_, &running) != CURLM_OK)
            return;
        if (running > 0 && curl_multi_poll(multi_, nullptr, 0, idleWaitMs, nullptr) != CURLM_OK)
            return;
    }
    int queued = 0;
    while (const CURLMsg *message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg == CURLMSG_DONE)
            result_ = message->data.result;
    }
}

void CurlInet::Transfer::cancel()
{
    cancelled_ = true;
    stop();
}

void CurlInet::Transfer::stop()
{
    stopping_ = true;
    // Should the wake-up fail, the worker still sees the flag within idleWaitMs.
    static_cast<void>(curl_multi_wakeup(multi_));
}

size_t CurlInet::Transfer::receive(char *data, size_t size, size_t count, void *transfer)
{
    auto *self = static_cast<Transfer *>(transfer);
    if (self->stopping_)
        return 0;
    const size_t offered = size * count;
    const size_t taken = std::min(offered, static_cast<size_t>(documentLimit - self->body_.size()));
    self->body_.append(data, static_cast<qsizetype>(taken));
    // Taking less than offered ends the transfer (CURLOPT_WRITEFUNCTION(3)):
    // the rest would be thrown away.
    self->cut_ = taken < offered;
    return taken;
}

FetchResult CurlInet::Transfer::outcome() const
{
    if (cancelled_)
        return FetchError{FetchFailure::Cancelled};
    if (result_ == CURLE_OK || (result_ == CURLE_WRITE_ERROR && cut_))
        return decoded(body_);
    const FetchFailure reason = failureOf(result_);
    long status = 0;
    // Only a status failure has a status; should it not be read, it stays 0.
    if (reason == FetchFailure::HttpStatus)
        static_cast<void>(curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status));
    return FetchError{reason, static_cast<int>(status)};
}

// libcurl is set up by the first fetch, still before any worker thread: the
// TLS set-up costs a program that is never started neither time nor memory.
CurlInet::CurlInet() = default;

CurlInet::~CurlInet() = default;

FetchResult CurlInet::OpenURL(const FetchRequest &request)
{
    // One transfer at a time: a call made while one runs fails.
    if (current_)
        return FetchError{FetchFailure::Busy};
    if (!curlReady())
        return FetchError{FetchFailure::Other};
    const std::optional<QByteArray> url = urlFor(request.address, request.method);
    if (!url)
        return FetchError{FetchFailure::SchemeRefused};
    const QByteArray proxy = request.proxy.value_or(QString()).toUtf8();
    if (!passesWhole(*url) || !passesWhole(proxy) || !isBareProxy(proxy))
        return FetchError{FetchFailure::BadAddress};
    Transfer transfer;
    if (!transfer.prepare(*url, proxy, request.timeout))
        return FetchError{FetchFailure::Other};
    current_ = &transfer;
    const bool ran = transfer.runAside();
    current_ = nullptr;
    return ran ? transfer.outcome() : FetchError{FetchFailure::Other};
}

void CurlInet::Cancel()
{
    if (current_)
        current_->cancel();
}
