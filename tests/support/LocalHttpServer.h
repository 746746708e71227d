#pragma once

#include <QObject>
#include <QSslConfiguration>
#include <QStringList>
#include <optional>

class QTcpServer;
class QTcpSocket;

// An HTTP server on 127.0.0.1, on a free port, with canned answers by path:
//   /html                 "<html>"
//   /page?status=N&hex=H  status N (200 without one) and the bytes H stands for
//   /redirect?to=URL      302 to URL;  /loop  302 to itself
//   /slow                 "<html>" after 300 ms
//   /drip                 "<html>" again and again, one byte a second
//   /hang                 reads the request and never answers
//   /endless              "<html>" and then more, without end
//   /ten-gigabytes[-nul]  a Content-Length of 10 GB, then "<html>" and more, or NUL bytes
//   /endless-header       a header line that never ends
//   /header-flood         10 MiB of header lines, then "<html>"
//   /cut-short[-chunked]  "<html>" and 994 bytes of a promised 100,000, then the close
// Anything else is a 404. A client whose first byte cannot begin a request (a
// TLS hello, a SOCKS greeting) gets a 400 and the close; one that sends nothing
// (FTP waiting for a greeting) gets nothing. Asked as a proxy, it answers by
// the path of the absolute URL. Streams go as fast as the client takes them.
// It serves from the thread that made it, while the fetch under test waits.
class LocalHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit LocalHttpServer(const std::optional<QSslConfiguration> &tls = std::nullopt);

    bool isListening() const;
    quint16 port() const;
    // "127.0.0.1:port/path", without a scheme.
    QString address(const QString &path) const;
    QString url(const QString &path) const;
    // Connections accepted; over TLS, handshakes begun.
    int connections() const { return accepted_; }
    // The request targets in the order they came.
    QStringList requests;

private:
    void readRequest(QTcpSocket *socket, QByteArray &received);

    QTcpServer *server_;
    bool tls_;
    int accepted_ = 0;
};

// A configuration presenting the fixture certificate for 127.0.0.1, and that certificate.
QSslConfiguration localTlsConfiguration();
QSslCertificate localCertificate();
