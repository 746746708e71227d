// The transfer facility over libcurl's multi-socket interface
// (curl_multi_socket_action(3)): libcurl names the sockets and the time-out it
// waits for, a QSocketNotifier per socket side and one QTimer wake it for
// those alone, and the fetch waits in a local event loop on the caller's
// thread. A cancel ends that loop at once, whatever phase the transfer is in.

#include "platform/net/Inet.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QStringList>
#include <QTimer>
#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <map>
#include <memory>

namespace
{

constexpr qsizetype documentLimit = CurlInet::documentStartLimit;
// The first bytes of the document, asked of an HTTP server. A header and not
// CURLOPT_RANGE(3), which FTP would see too: an FTP transfer that ends at the
// range then blocks for up to a minute waiting for the server's word on it.
const QByteArray documentRange = "Range: bytes=0-" + QByteArray::number(documentLimit - 1);
// A server that ignores the range can push no more than a receive window of
// this size (which the system doubles for its own book-keeping) before the
// transfer ends; the headers, and a TLS handshake, still pass in a few turns.
constexpr int receiveBufferBytes = 4096;
// "Range Not Satisfiable": the range begins past the end, so the document is empty.
constexpr long rangePastTheEnd = 416;
constexpr long maxRedirects = 5;
constexpr char fetchedSchemes[] = "http,https,ftp,ftps";

bool curlReady()
{
    // libcurl's global set-up must run once, before any other call
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
    explicit Transfer(CURLM *multi);
    ~Transfer();
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;

    // False when libcurl refuses any setting: a fetch never runs with less
    // than it was asked for.
    bool prepare(const QByteArray &url, const QByteArray &proxy, std::chrono::seconds timeout);
    // Handles this thread's events until the transfer has ended.
    void run();
    // The transfer ends as a failure.
    void cancel();
    FetchResult outcome() const;

private:
    // The read and the write side of one of libcurl's sockets. A socket
    // libcurl has let go of keeps its pair, switched off, until the
    // transfer ends: the pair may be the one whose signal is being handled.
    struct Watch {
        QSocketNotifier readable;
        QSocketNotifier writable;
    };

    static int onSocket(CURL *, curl_socket_t socket, int what, void *transfer, void *);
    static int onTimer(CURLM *, long timeoutMs, void *transfer);
    static size_t receive(char *data, size_t size, size_t count, void *transfer);
    static int onSocketCreated(void *, curl_socket_t socket, curlsocktype);
    bool hasDocumentStart() const { return body_.size() == documentLimit; }
    qint64 receivedBytes() const;
    long httpStatus() const;
    void watch(curl_socket_t socket, int what);
    // Tells libcurl that a socket is ready, or that its time-out has come.
    void act(curl_socket_t socket, int events);

    CURLM *const multi_;
    CURL *const easy_;
    curl_slist *const headers_;
    bool attached_ = false;
    bool cancelled_ = false;
    QEventLoop waiting_;
    QTimer timeout_;
    std::map<curl_socket_t, std::unique_ptr<Watch>> watches_;
    QByteArray body_;
    CURLcode result_ = CURLE_FAILED_INIT;
};

CurlInet::Transfer::Transfer(CURLM *multi)
    : multi_(multi), easy_(curl_easy_init()),
      headers_(curl_slist_append(nullptr, documentRange.constData()))
{
    // A late time-out would stretch the request's time-out by the timer's slack.
    timeout_.setTimerType(Qt::PreciseTimer);
    timeout_.setSingleShot(true);
    QObject::connect(&timeout_, &QTimer::timeout, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlInet::Transfer::~Transfer()
{
    // Teardown failures leave nothing to do: the handle is freed regardless.
    // libcurl lets go of the transfer's sockets here, while the watches exist.
    if (attached_)
        static_cast<void>(curl_multi_remove_handle(multi_, easy_));
    curl_easy_cleanup(easy_);
    curl_slist_free_all(headers_);
    // The multi handle outlives this transfer: it must not call back into it.
    static_cast<void>(curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, nullptr));
    static_cast<void>(curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, nullptr));
}

bool CurlInet::Transfer::prepare(const QByteArray &url, const QByteArray &proxy,
                                 std::chrono::seconds timeout)
{
    if (!easy_ || !headers_)
        return false;
    const CURLMcode multiResults[] = {
        curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &Transfer::onSocket),
        curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this),
        curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &Transfer::onTimer),
        curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this),
    };
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
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_),
        curl_easy_setopt(easy_, CURLOPT_SOCKOPTFUNCTION, &Transfer::onSocketCreated),
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L),
        // Each attempt makes a connection of its own, as a new program would:
        // the kept multi handle must not hand over the last one.
        curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L),
        // A cancel must not wait for a name lookup to come back
        // (CURLOPT_QUICK_EXIT(3)).
        curl_easy_setopt(easy_, CURLOPT_QUICK_EXIT, 1L),
    };
    if (!std::ranges::all_of(multiResults, [](CURLMcode result) { return result == CURLM_OK; }) ||
        !std::ranges::all_of(results, [](CURLcode result) { return result == CURLE_OK; }))
        return false;
    // libcurl asks for its first time-out here; the loop of run() serves it.
    attached_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    return attached_;
}

void CurlInet::Transfer::run()
{
    // Ends when the transfer does, on cancel, or when the application quits.
    waiting_.exec();
}

void CurlInet::Transfer::cancel()
{
    cancelled_ = true;
    waiting_.quit();
}

int CurlInet::Transfer::onSocket(CURL *, curl_socket_t socket, int what, void *transfer, void *)
{
    if (transfer)
        static_cast<Transfer *>(transfer)->watch(socket, what);
    return 0;
}

int CurlInet::Transfer::onTimer(CURLM *, long timeoutMs, void *transfer)
{
    auto *self = static_cast<Transfer *>(transfer);
    if (!self)
        return 0;
    if (timeoutMs < 0)
        self->timeout_.stop();
    else
        self->timeout_.start(static_cast<int>(std::min<long>(timeoutMs, INT_MAX)));
    return 0;
}

void CurlInet::Transfer::watch(curl_socket_t socket, int what)
{
    std::unique_ptr<Watch> &pair = watches_[socket];
    if (!pair) {
        pair.reset(new Watch{{socket, QSocketNotifier::Read}, {socket, QSocketNotifier::Write}});
        QObject::connect(&pair->readable, &QSocketNotifier::activated,
                         [this, socket] { act(socket, CURL_CSELECT_IN); });
        QObject::connect(&pair->writable, &QSocketNotifier::activated,
                         [this, socket] { act(socket, CURL_CSELECT_OUT); });
    }
    pair->readable.setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    pair->writable.setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
}

void CurlInet::Transfer::act(curl_socket_t socket, int events)
{
    int running = 0;
    if (curl_multi_socket_action(multi_, socket, events, &running) != CURLM_OK) {
        waiting_.quit();
        return;
    }
    int queued = 0;
    while (const CURLMsg *message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
            result_ = message->data.result;
            waiting_.quit();
        }
    }
    if (hasDocumentStart())
        waiting_.quit();
}

size_t CurlInet::Transfer::receive(char *data, size_t size, size_t count, void *transfer)
{
    auto *self = static_cast<Transfer *>(transfer);
    const size_t offered = size * count;
    const size_t taken = std::min(offered, static_cast<size_t>(documentLimit - self->body_.size()));
    self->body_.append(data, static_cast<qsizetype>(taken));
    // Taking less than offered ends the transfer (CURLOPT_WRITEFUNCTION(3)):
    // the rest would be thrown away. Having taken the last byte wanted, act()
    // ends it before libcurl waits for more.
    return taken;
}

int CurlInet::Transfer::onSocketCreated(void *, curl_socket_t socket, curlsocktype)
{
    // Before the connection is made, so that the window offered to the server
    // is small from the start. Should the system refuse, the fetch costs more
    // bytes but judges the same: it goes on.
    static_cast<void>(
        setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes));
    return CURL_SOCKOPT_OK;
}

FetchResult CurlInet::Transfer::outcome() const
{
    const qint64 received = receivedBytes();
    if (cancelled_)
        return {FetchError{FetchFailure::Cancelled}, received};
    // However the transfer ended after the start came, the host answered.
    if (result_ == CURLE_OK || hasDocumentStart())
        return {decoded(body_), received};
    const FetchFailure reason = failureOf(result_);
    // Only a status failure has a status.
    const long status = reason == FetchFailure::HttpStatus ? httpStatus() : 0;
    if (status == rangePastTheEnd)
        return {QString(), received};
    return {FetchError{reason, static_cast<int>(status)}, received};
}

// Each count that cannot be read counts as nothing.
qint64 CurlInet::Transfer::receivedBytes() const
{
    long headers = 0;
    curl_off_t body = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_HEADER_SIZE, &headers) != CURLE_OK)
        headers = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_SIZE_DOWNLOAD_T, &body) != CURLE_OK)
        body = 0;
    return static_cast<qint64>(headers) + static_cast<qint64>(body);
}

// 0 when libcurl cannot tell.
long CurlInet::Transfer::httpStatus() const
{
    long status = 0;
    return curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK ? status : 0;
}

// libcurl is set up by the first fetch: the TLS set-up costs a program that
// is never started neither time nor memory.
CurlInet::CurlInet() = default;

CurlInet::~CurlInet()
{
    if (multi_)
        static_cast<void>(curl_multi_cleanup(multi_));
}

FetchResult CurlInet::OpenURL(const FetchRequest &request)
{
    // One transfer at a time: a call made while one runs fails.
    if (current_)
        return {FetchError{FetchFailure::Busy}};
    if (!curlReady() || !(multi_ || (multi_ = curl_multi_init())))
        return {FetchError{FetchFailure::Other}};
    const std::optional<QByteArray> url = urlFor(request.address, request.method);
    if (!url)
        return {FetchError{FetchFailure::SchemeRefused}};
    const QByteArray proxy = request.proxy.value_or(QString()).toUtf8();
    if (!passesWhole(*url) || !passesWhole(proxy) || !isBareProxy(proxy))
        return {FetchError{FetchFailure::BadAddress}};
    Transfer transfer(multi_);
    if (!transfer.prepare(*url, proxy, request.timeout))
        return {FetchError{FetchFailure::Other}};
    current_ = &transfer;
    transfer.run();
    current_ = nullptr;
    return transfer.outcome();
}

void CurlInet::Cancel()
{
    if (current_)
        current_->cancel();
}
