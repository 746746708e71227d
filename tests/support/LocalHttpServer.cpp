#include "support/LocalHttpServer.h"

#include <QFile>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <memory>
#include <utility>

namespace
{

constexpr qsizetype streamChunk = 64 * 1024;

QByteArray response(int status, const QByteArray &body, const QByteArray &headers = {})
{
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

QByteArray redirectTo(const QByteArray &location)
{
    return response(302, {}, "Location: " + location + "\r\n");
}

// "<html>" and a thousand bytes of a document announced as 100,000 bytes long.
QByteArray cutShort(bool chunked)
{
    const QByteArray head =
        chunked ? "Transfer-Encoding: chunked\r\n\r\n186a0\r\n" : "Content-Length: 100000\r\n\r\n";
    return "HTTP/1.1 200 OK\r\nConnection: close\r\n" + head + "<html>" + QByteArray(994, 'x');
}

// Every request method begins with a capital letter; a TLS hello or a SOCKS
// greeting does not.
bool canBeginHttpRequest(const QByteArray &received)
{
    return received.isEmpty() || (received.front() >= 'A' && received.front() <= 'Z');
}

// The fixed documents, by path.
std::optional<QByteArray> fixedAnswer(const QString &path, const QUrlQuery &query)
{
    if (path == u"/blanks7")
        return response(200, QByteArray(7, ' '));
    if (path == u"/blanks8")
        return response(200, QByteArray(8, ' '));
    if (path == u"/html")
        return response(200, "<html>");
    if (path == u"/empty")
        return response(200, {});
    if (path == u"/linebreak")
        return response(200, "\n<html>");
    if (path == u"/nul")
        return response(200, QByteArray(8, '\0'));
    if (path == u"/binary")
        return response(200, "\xff\xfe\x80 <html>");
    if (path == u"/redirect")
        return redirectTo(query.queryItemValue(QStringLiteral("to"), QUrl::FullyDecoded).toUtf8());
    if (path == u"/loop")
        return redirectTo("/loop");
    if (path == u"/cut-short")
        return cutShort(false);
    if (path == u"/cut-short-chunked")
        return cutShort(true);
    if (path == u"/bad-gateway")
        return response(502, "<html>Bad Gateway</html>");
    if (path == u"/bytes")
        return response(
            200, QByteArray::fromHex(query.queryItemValue(QStringLiteral("hex")).toLatin1()));
    return std::nullopt;
}

// An answer written as fast as the client takes it: a head, then one chunk
// again and again, `chunks` times or without end, then a tail.
struct Flood {
    QByteArray head;
    QByteArray chunk;
    std::optional<qsizetype> chunks; // without end when there is no number
    QByteArray tail;
};

// Header lines of 64 bytes each, filling one chunk.
QByteArray headerLines()
{
    const QByteArray line = "X-Filler: " + QByteArray(52, 'a') + "\r\n";
    return line.repeated(streamChunk / line.size());
}

std::optional<Flood> floodFor(const QString &path)
{
    const QByteArray ok = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    const QByteArray tenGigabytes = ok + "Content-Length: 10000000000\r\n\r\n";
    if (path == u"/endless")
        return Flood{ok + "\r\n<html>", QByteArray(streamChunk, 'x'), {}, {}};
    if (path == u"/ten-gigabytes")
        return Flood{tenGigabytes + "<html>", QByteArray(streamChunk, 'x'), {}, {}};
    if (path == u"/ten-gigabytes-nul")
        return Flood{tenGigabytes, QByteArray(streamChunk, '\0'), {}, {}};
    if (path == u"/endless-header")
        return Flood{ok + "X-Filler: ", QByteArray(streamChunk, 'a'), {}, {}};
    if (path == u"/header-flood")
        return Flood{ok + "Content-Length: 6\r\n", headerLines(), 10 * 1024 * 1024 / streamChunk,
                     "\r\n<html>"};
    return std::nullopt;
}

// Feeds a flood to its socket, topping the socket's queue up as it drains.
class Flooding : public QObject
{
public:
    Flooding(QTcpSocket *socket, Flood flood)
        : QObject(socket), socket_(socket), flood_(std::move(flood))
    {
        socket_->write(flood_.head);
        connect(socket_, &QTcpSocket::bytesWritten, this, &Flooding::topUp);
        topUp();
    }

private:
    void topUp()
    {
        // A client that has gone takes nothing more.
        while (socket_->isOpen() && flood_.chunks != 0 && socket_->bytesToWrite() < streamChunk) {
            socket_->write(flood_.chunk);
            if (flood_.chunks)
                --*flood_.chunks;
        }
        if (flood_.chunks == 0) {
            disconnect(socket_, nullptr, this, nullptr);
            socket_->write(flood_.tail);
            socket_->disconnectFromHost();
        }
    }

    QTcpSocket *const socket_;
    Flood flood_;
};

QString fixturePath(const char *name)
{
    return QStringLiteral(QUORREL_TLS_FIXTURES "/") + QLatin1String(name);
}

QByteArray readFixture(const char *name)
{
    QFile file(fixturePath(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read the TLS fixture %s", qPrintable(file.fileName()));
    return file.readAll();
}

} // namespace

QSslCertificate localCertificate()
{
    return QSslCertificate(readFixture("localhost.crt"), QSsl::Pem);
}

QSslConfiguration localTlsConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(localCertificate());
    configuration.setPrivateKey(QSslKey(readFixture("localhost.key"), QSsl::Ec, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

LocalHttpServer::LocalHttpServer(const std::optional<QSslConfiguration> &tls)
    : server_(tls ? new QSslServer(this) : new QTcpServer(this)), tls_(tls.has_value())
{
    if (tls) {
        auto *secure = static_cast<QSslServer *>(server_);
        secure->setSslConfiguration(*tls);
        // A client that refuses the certificate never becomes a pending connection.
        connect(secure, &QSslServer::startedEncryptionHandshake, this, [this] { ++accepted_; });
    }
    connect(server_, &QTcpServer::pendingConnectionAvailable, this,
            &LocalHttpServer::acceptPending);
    server_->listen(QHostAddress::LocalHost, 0);
}

LocalHttpServer::~LocalHttpServer() = default;

bool LocalHttpServer::isListening() const
{
    return server_->isListening();
}

quint16 LocalHttpServer::port() const
{
    return server_->serverPort();
}

QString LocalHttpServer::address(const QString &path) const
{
    return QStringLiteral("127.0.0.1:%1%2").arg(port()).arg(path);
}

QString LocalHttpServer::url(const QString &path) const
{
    return (tls_ ? QStringLiteral("https://") : QStringLiteral("http://")) + address(path);
}

void LocalHttpServer::acceptPending()
{
    while (QTcpSocket *socket = server_->nextPendingConnection()) {
        if (!tls_)
            ++accepted_;
        mostAtOnce_ = std::max(mostAtOnce_, ++open_);
        unanswered_.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        // An exchange ends when the server closes its side, not when it has seen
        // the close come back: the client may already be on its next request.
        connect(socket, &QTcpSocket::stateChanged, this,
                [this, socket, counted = true](QAbstractSocket::SocketState state) mutable {
                    if (counted && state != QAbstractSocket::ConnectedState) {
                        counted = false;
                        --open_;
                    }
                });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            unanswered_.remove(socket);
            socket->deleteLater();
        });
        readRequest(socket);
    }
}

void LocalHttpServer::readRequest(QTcpSocket *socket)
{
    const auto pending = unanswered_.find(socket);
    if (pending == unanswered_.end())
        return;
    pending->append(socket->readAll());
    if (refuseNonHttp_ && !canBeginHttpRequest(*pending)) {
        unanswered_.erase(pending);
        afterLatency(socket, [socket] {
            socket->write(response(400, "<html>Bad Request</html>"));
            socket->disconnectFromHost();
        });
        return;
    }
    // Answer only once the whole head is in: closing a socket with unread
    // input would reset the connection under the answer.
    const qsizetype headEnd = pending->indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QByteArray target = pending->left(pending->indexOf("\r\n")).split(' ').value(1);
    unanswered_.erase(pending);
    requests.append(QString::fromUtf8(target));
    afterLatency(socket, [this, socket, target] { answer(socket, target); });
}

void LocalHttpServer::afterLatency(QTcpSocket *socket, const std::function<void()> &respond) const
{
    if (latencyMs_ == 0)
        respond();
    else
        QTimer::singleShot(latencyMs_, socket, respond);
}

void LocalHttpServer::answer(QTcpSocket *socket, const QByteArray &target)
{
    // A proxy asks with the whole URL, a client with the path alone.
    const QUrl url = QUrl(QString::fromUtf8(target));
    const QString path = url.path();
    if (const std::optional<QByteArray> fixed = fixedAnswer(path, QUrlQuery(url))) {
        socket->write(*fixed);
        socket->disconnectFromHost();
    } else if (std::optional<Flood> flood = floodFor(path)) {
        new Flooding(socket, std::move(*flood));
    } else if (path == u"/drip") {
        drip(socket);
    } else if (path == u"/slow") {
        QTimer::singleShot(300, socket, [socket] {
            socket->write(response(200, "<html>"));
            socket->disconnectFromHost();
        });
    } else if (path != u"/hang") {
        socket->write(response(404, "<html>Not Found</html>"));
        socket->disconnectFromHost();
    }
}

void LocalHttpServer::drip(QTcpSocket *socket)
{
    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    const auto nextByte = [socket, sent = std::make_shared<qsizetype>(0)] {
        static const QByteArray document = "<html>";
        socket->write(document.mid((*sent)++ % document.size(), 1));
    };
    auto *timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket, nextByte);
    timer->start(1000);
    nextByte();
}
