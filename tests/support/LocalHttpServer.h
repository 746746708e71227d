#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSslConfiguration>
#include <QStringList>
#include <functional>
#include <optional>

class QTcpServer;
class QTcpSocket;

// An HTTP server on 127.0.0.1, on a free port, answering by path:
//   /blanks7, /blanks8  seven or eight blanks
//   /html               "<html>"
//   /empty              an empty document
//   /linebreak          a line break, then "<html>"
//   /nul                eight NUL bytes
//   /binary             bytes that are no UTF-8, then " <html>"
//   /missing            404 with an HTML page
//   /redirect?to=URL    302 to URL (relative or absolute)
//   /loop               302 to itself
//   /endless            "<html>" and then more, without end
//   /ten-gigabytes      a Content-Length of 10 GB, "<html>" and then more, without end
//   /ten-gigabytes-nul  a Content-Length of 10 GB, and NUL bytes without end
//   /endless-header     a head whose one header line never ends
//   /header-flood       10 MiB of header lines, then "<html>"
//   /cut-short          "<html>" and a thousand bytes of a promised 100,000, then the close
//   /cut-short-chunked  the same in chunked encoding, cut inside the first chunk
//   /bad-gateway        502 with an HTML page, as a proxy that cannot reach the host
//   /bytes?hex=HEX      the bytes HEX stands for
//   /drip               "<html>" one byte a second
//   /slow               "<html>" after 300 ms
//   /hang               reads the request and never answers
// Anything else is a 404. A client that sends no request (FTP waiting for a
// greeting, TLS waiting for the server's hello) gets no answer either. A
// streamed answer is written only as fast as the client takes it, so the
// server holds little of it at a time.
//
// Asked as a proxy, it answers by the path of the absolute URL it is given.
//
// It serves from the thread that made it: the fetch under test waits in an
// event loop, so the server answers meanwhile.
class LocalHttpServer : public QObject
{
    Q_OBJECT

public:
    // With a TLS configuration it speaks HTTPS.
    explicit LocalHttpServer(const std::optional<QSslConfiguration> &tls = std::nullopt);
    ~LocalHttpServer() override;

    bool isListening() const;
    quint16 port() const;
    // "127.0.0.1:port/path": an address without a scheme.
    QString address(const QString &path) const;
    QString url(const QString &path) const;

    // From now on a client whose first bytes cannot begin an HTTP request (a
    // TLS hello, a SOCKS greeting) gets a plain-text 400 and the close, as most
    // servers answer; otherwise it waits for a request that never comes.
    void refuseWhatIsNotHttp() { refuseNonHttp_ = true; }
    // From now on every answer, a refusal too, starts `ms` milliseconds after
    // the request, as over a slow line.
    void answerAfter(int ms) { latencyMs_ = ms; }

    // Connections accepted; over TLS, handshakes begun.
    int connections() const { return accepted_; }
    int mostAtOnce() const { return mostAtOnce_; }
    // Connections the server has not closed yet.
    int openNow() const { return open_; }
    // Counts "at once" afresh from now, for a test that shares the server.
    void startCountingAtOnce() { mostAtOnce_ = open_; }
    // The request targets in the order they came.
    QStringList requests;

private:
    void acceptPending();
    void readRequest(QTcpSocket *socket);
    void afterLatency(QTcpSocket *socket, const std::function<void()> &respond) const;
    void answer(QTcpSocket *socket, const QByteArray &target);
    void drip(QTcpSocket *socket);

    QTcpServer *server_;
    bool tls_;
    bool refuseNonHttp_ = false;
    int latencyMs_ = 0;
    QHash<QTcpSocket *, QByteArray> unanswered_;
    int accepted_ = 0;
    int open_ = 0;
    int mostAtOnce_ = 0;
};

// The fixture certificate for 127.0.0.1 (self-signed, valid for a century),
// and a server configuration that presents it.
QSslCertificate localCertificate();
QSslConfiguration localTlsConfiguration();
