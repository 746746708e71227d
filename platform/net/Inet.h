#pragma once

#include <QString>
#include <chrono>
#include <optional>
#include <variant>

struct FetchRequest;

// Why a fetch gave no document.
enum class FetchFailure {
    TimedOut,       // the request's time-out ran out
    NameNotFound,   // the host's or the proxy's name could not be looked up
    Refused,        // no connection to the host or the proxy could be made
    Tls,            // the secure handshake failed, or the certificate is not trusted
    HttpStatus,     // the server answered with a status of 400 or above
    Cancelled,      // Cancel() ended the fetch
    SchemeRefused,  // the address, or a redirect, names a scheme that is never fetched
    BadAddress,     // a NUL in the address or the proxy text, blanks around the proxy
                    // text or a line break in it; nothing was contacted
    Busy,           // another fetch was still running
    ModuleMismatch, // the fetch module is of another version than the program
    Other,          // anything else: an answer cut off, headers too long, an FTP refusal
};

struct FetchError {
    FetchFailure reason;
    int httpStatus = 0; // the server's status, with HttpStatus
    bool operator==(const FetchError &) const = default;
};

// The start of the document, or why there is none, and what the fetch cost.
struct FetchResult {
    std::variant<QString, FetchError> outcome;
    // As libcurl received them, headers and body, a failed fetch's included.
    qint64 receivedBytes = 0;
};

// What the program and the fetch module share: Inet, FetchRequest,
// FetchResult and the module's entry points. Raise it with any change to them;
// the program refuses a module of another version (LoadedInet).
constexpr int fetchModuleVersion = 2;

// The transfer facility: fetches one document at a time, as each request
// asks: by its address, directly or through a proxy, under a time-out.
class Inet
{
public:
    // Decides the scheme an address without one is fetched by.
    enum class Method { Http, Ftp };

    virtual ~Inet() = default;

    // Returns only when the transfer has ended; the caller's window keeps
    // handling its events meanwhile.
    [[nodiscard]] virtual FetchResult OpenURL(const FetchRequest &request) = 0;
    // Ends the transfer in progress, if any; its OpenURL then fails.
    virtual void Cancel() = 0;
};

struct FetchRequest {
    QString address;
    Inet::Method method = Inet::Method::Http;
    std::optional<QString> proxy{};   // as the user typed it; none, or an empty text: direct
    std::chrono::seconds timeout{60}; // for the whole request; 0: none
};

// Over libcurl, on the calling thread's event loop: libcurl says which sockets
// and which time-out it waits for, and the loop wakes it for them alone. No
// thread is started for a fetch (a name lookup may run on libcurl's resolver
// thread); nothing runs between fetches.
//
// - An address without "scheme://" gets http:// or ftp:// by the method (FTP logs
//   in anonymously); one with a scheme is used as it stands. Only http, https,
//   ftp and ftps are fetched, redirects included (at most 5); any other scheme
//   fails before anything is contacted, and so does an address or a proxy
//   text that holds a NUL character, and a proxy text with blanks around it
//   or a line break in it.
// - An HTTP status of 400 or above fails; certificates are verified.
// - Only the start of a document is read, as much as the judgement of an answer
//   needs (documentStartLimit): HTTP asks for that range, and any transfer
//   ends once it has come, whatever the server sends after it. A server that
//   finds the range past the end (416) has an empty document.
// - The document's bytes are read as UTF-8: a NUL stays U+0000, an invalid
//   sequence becomes U+FFFD and a leading byte-order mark stays U+FEFF, so
//   each byte below 0x80 keeps its value and any other byte turns into a
//   character above every ASCII one. Comparing the text with ASCII text
//   therefore orders it as the raw bytes would.
// - The proxy text goes to libcurl unchanged (host:port, http://host:port,
//   socks5h://host:port; without a port, 1080, or 443 for https://; see
//   CURLOPT_PROXY(3)). Proxy variables of the environment never apply.
class CurlInet final : public Inet
{
public:
    // At least the eight characters a judgement reads, with room for a
    // byte-order mark and characters of several bytes.
    static constexpr qsizetype documentStartLimit = 1024;

    CurlInet();
    ~CurlInet() override;
    CurlInet(const CurlInet &) = delete;
    CurlInet &operator=(const CurlInet &) = delete;

    [[nodiscard]] FetchResult OpenURL(const FetchRequest &request) override;
    void Cancel() override;

private:
    class Transfer;
    // libcurl's multi handle (CURLM *), made by the first fetch and kept; it
    // holds no connection between fetches.
    void *multi_ = nullptr;
    Transfer *current_ = nullptr;
};
