#pragma once

#include <QString>
#include <optional>

// The transfer facility: fetches one document at a time by its address,
// directly or through a proxy, under a request time-out. Its settings stay in
// place from one fetch to the next, like the properties of a control.
class Inet
{
public:
    // AccessType values.
    static constexpr int Direct = 1;
    static constexpr int NamedProxy = 2;

    // Decides the scheme an address without one is fetched by.
    enum class Method { Http, Ftp };

    virtual ~Inet() = default;

    QString Proxy; // as the user typed it; used while AccessType is NamedProxy
    int AccessType = Direct;
    int RequestTimeout = 60; // seconds for the whole request, 0 for none
    Method Protocol = Method::Http;

    // The document at address, or nothing when the request fails or is
    // cancelled. Returns only when the transfer has ended; the caller's window
    // keeps handling its events meanwhile.
    virtual std::optional<QString> OpenURL(const QString &address) = 0;
    // Ends the transfer in progress, if any; its OpenURL then fails.
    virtual void Cancel() = 0;
};

// Over libcurl. Each fetch runs on a worker thread of its own while the
// calling thread waits in a local event loop; nothing runs between fetches.
//
// - An address without "scheme://" gets http:// or ftp:// by Protocol (FTP logs
//   in anonymously); one with a scheme is used as it stands. Only http, https,
//   ftp and ftps are fetched, redirects included (at most 5); any other scheme
//   fails before anything is contacted, and so does an address or a proxy
//   text that holds a NUL character, and a proxy text with blanks around it
//   or a line break in it.
// - An HTTP status of 400 or above fails; certificates are verified.
// - At most 1 MiB of a document is read; a longer one is cut there.
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
    CurlInet();
    ~CurlInet() override;
    CurlInet(const CurlInet &) = delete;
    CurlInet &operator=(const CurlInet &) = delete;

    std::optional<QString> OpenURL(const QString &address) override;
    void Cancel() override;

private:
    class Transfer;
    Transfer *current_ = nullptr;
};
