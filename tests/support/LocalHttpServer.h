#pragma once

#include <QObject>
#include <QProcess>
#include <QSslConfiguration>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <optional>

// "127.0.0.1:port/path", without a scheme.
inline QString localAddress(quint16 port, const QString &path)
{
    return QStringLiteral("127.0.0.1:%1%2").arg(port).arg(path);
}

// An HTTP server on 127.0.0.1, on a free port, with canned answers by path
// (see cannedFor()); any other path is a 404. A client whose first byte cannot
// begin a request (a TLS hello, a SOCKS greeting) gets a 400. Asked as a
// proxy, it answers by the path of the absolute URL. It serves from the thread
// that made it, while the fetch under test waits in an event loop.
class LocalHttpServer : public QObject
{
public:
    explicit LocalHttpServer(const std::optional<QSslConfiguration> &tls = std::nullopt);

    bool isListening() const { return server_->isListening(); }
    quint16 port() const { return server_->serverPort(); }
    QString address(const QString &path = {}) const { return localAddress(port(), path); }
    QString url(const QString &path) const
    {
        return (tls_ ? QStringLiteral("https://") : QStringLiteral("http://")) + address(path);
    }
    // Connections accepted; over TLS, handshakes begun.
    int connections() const { return accepted_; }
    // The request targets in the order they came.
    QStringList requests;
    // Bytes of the answers handed to the system, all connections together.
    qint64 sent = 0;

private:
    void readRequest(QTcpSocket *socket, QByteArray &received);

    QTcpServer *server_;
    bool tls_;
    int accepted_ = 0;
};

// A server configuration with the fixture certificate for 127.0.0.1.
QSslConfiguration localTlsConfiguration();

// A real peer on 127.0.0.1, on a free port, for as long as it lives: an FTP
// server (pyftpdlib) that serves /doc.html with "<html>" and /mebibyte.html
// with a MiB of "<", or an HTTP proxy
// (tinyproxy).
class LocalPeer
{
public:
    enum Kind { FtpServer, HttpProxy };
    explicit LocalPeer(Kind kind);
    ~LocalPeer();

    bool isListening() const { return port_ != 0; }
    QString address(const QString &path = {}) const { return localAddress(port_, path); }

private:
    QTemporaryDir folder_;
    QProcess process_;
    quint16 port_ = 0;
};
