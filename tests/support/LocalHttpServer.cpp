#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSslKey>
#include <QSslServer>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <memory>

namespace
{

constexpr qsizetype streamChunk = 64 * 1024;

// An answer: the head, then `chunk` written `chunks` times (without end when
// negative), one every `everyMs` or as fast as the client takes them, then the close.
struct Canned {
    QByteArray head;
    QByteArray chunk;
    qint64 chunks = 0;
    int everyMs = 0;
    int delayMs = 0;
};

Canned once(QByteArray answer, int delayMs = 0)
{
    return {std::move(answer), {}, 0, 0, delayMs};
}

Canned endless(QByteArray head, QByteArray chunk, int everyMs = 0)
{
    return {std::move(head), std::move(chunk), -1, everyMs, 0};
}

QByteArray response(int status, const QByteArray &body, const QByteArray &headers = {})
{
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

Canned cannedFor(const QUrl &url)
{
    const QString path = url.path();
    const QUrlQuery query(url);
    const QByteArray ok = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    const QByteArray tenGigabytes = ok + "Content-Length: 10000000000\r\n\r\n";
    const QByteArray headerLine = "X-Filler: " + QByteArray(52, 'a') + "\r\n";
    const auto item = [&query](const char *name) {
        return query.queryItemValue(QLatin1String(name), QUrl::FullyDecoded).toUtf8();
    };
    if (path == u"/html")
        return once(response(200, "<html>"));
    if (path == u"/page")
        return once(response(item("status").isEmpty() ? 200 : item("status").toInt(),
                             QByteArray::fromHex(item("hex"))));
    if (path == u"/redirect" || path == u"/loop")
        return once(response(302, {},
                             "Location: " + (path == u"/loop" ? QByteArray("/loop") : item("to")) +
                                 "\r\n"));
    if (path == u"/slow")
        return once(response(200, "<html>"), 300);
    if (path == u"/drip")
        return endless(ok + "\r\n", "<", 1000);
    if (path == u"/hang")
        return endless({}, {});
    if (path == u"/ten-gigabytes")
        return endless(tenGigabytes + "<html>", QByteArray(streamChunk, 'x'));
    if (path == u"/ten-gigabytes-nul")
        return endless(tenGigabytes, QByteArray(streamChunk, '\0'));
    if (path == u"/endless-header")
        return endless(ok + "X-Filler: ", QByteArray(streamChunk, 'a'));
    if (path == u"/header-flood")
        return once(ok + "Content-Length: 6\r\n" + headerLine.repeated(10 * 1024 * 1024 / 64) +
                    "\r\n<html>");
    if (path == u"/cut-short")
        return once(ok + "Content-Length: 100000\r\n\r\n<html>" + QByteArray(994, 'x'));
    return once(response(404, "<html>Not Found</html>"));
}

// Writes a canned answer to its socket, topping the socket's queue up as it drains.
void play(QTcpSocket *socket, Canned canned)
{
    socket->write(canned.head);
    if (canned.chunk.isEmpty() && canned.chunks < 0)
        return; // hangs
    auto state = std::make_shared<Canned>(std::move(canned));
    const auto topUp = [socket, state] {
        while (socket->isOpen() && state->chunks != 0 && socket->bytesToWrite() < streamChunk) {
            socket->write(state->chunk);
            state->chunks -= state->chunks > 0 ? 1 : 0;
            if (state->everyMs > 0)
                break;
        }
        if (state->chunks == 0)
            socket->disconnectFromHost();
    };
    if (state->everyMs > 0) {
        auto *timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, topUp);
        timer->start(state->everyMs);
    } else {
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
    }
    topUp();
}

QByteArray readFixture(const char *name)
{
    QFile file(QStringLiteral(QUORREL_TLS_FIXTURES "/") + QLatin1String(name));
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
    connect(server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = server_->nextPendingConnection()) {
            accepted_ += tls_ ? 0 : 1;
            auto received = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket, received] { readRequest(socket, *received); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            readRequest(socket, *received);
        }
    });
    server_->listen(QHostAddress::LocalHost, 0);
}

QString LocalHttpServer::url(const QString &path) const
{
    return (tls_ ? QStringLiteral("https://") : QStringLiteral("http://")) + address(path);
}

void LocalHttpServer::readRequest(QTcpSocket *socket, QByteArray &received)
{
    if (received.endsWith("\r\n\r\n"))
        return; // answered already
    received.append(socket->readAll());
    // Every request method begins with a capital letter.
    if (!received.isEmpty() && (received.front() < 'A' || received.front() > 'Z')) {
        socket->write(response(400, "<html>Bad Request</html>"));
        socket->disconnectFromHost();
        return;
    }
    // Answer only once the whole head is in: closing a socket with unread
    // input would reset the connection under the answer.
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    received.truncate(headEnd + 4);
    const QByteArray target = received.left(received.indexOf("\r\n")).split(' ').value(1);
    requests.append(QString::fromUtf8(target));
    const Canned canned = cannedFor(QUrl(QString::fromUtf8(target)));
    QTimer::singleShot(canned.delayMs, socket, [socket, canned] { play(socket, canned); });
}

LocalPeer::LocalPeer(Kind kind)
{
    QTcpServer probe; // a free port, given up for the peer to take
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return;
    port_ = probe.serverPort();
    probe.close();
    const QString port = QString::number(port_);
    const bool ftp = kind == FtpServer;
    const QString file =
        folder_.filePath(ftp ? QStringLiteral("doc.html") : QStringLiteral("proxy.conf"));
    if (!writeWholeFile(file, ftp ? QByteArray("<html>")
                                  : "Port " + port.toLatin1() +
                                        "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 10\n"))
        return;
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());
    // The system's Python: pyftpdlib comes with the distribution.
    if (ftp)
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral("-m"), QStringLiteral("pyftpdlib"), QStringLiteral("-i"),
                        QStringLiteral("127.0.0.1"), QStringLiteral("-p"), port,
                        QStringLiteral("-d"), folder_.path()});
    else
        process_.start(QStringLiteral("tinyproxy"),
                       {QStringLiteral("-d"), QStringLiteral("-c"), file});
    // Ready once it takes a connection.
    for (const QDeadlineTimer deadline(10'000); !listening_ && !deadline.hasExpired();) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        listening_ = socket.waitForConnected(200);
        if (!listening_)
            QThread::msleep(50);
    }
}

LocalPeer::~LocalPeer()
{
    process_.kill();
    process_.waitForFinished();
}
