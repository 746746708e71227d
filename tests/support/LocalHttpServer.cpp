#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

#include <QSslKey>
#include <QSslServer>
#include <QUrlQuery>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace
{

constexpr qsizetype streamChunk = 64 * 1024;

// An answer: after `delayMs`, the head, then `chunk` over and over until the
// client leaves; without a chunk, the close right after the head, or a reset.
struct Canned {
    QByteArray head;
    QByteArray chunk = {};
    int everyMs = 0;
    int delayMs = 0;
    bool reset = false;
};

QByteArray response(int status, const QByteArray &body, const QByteArray &headers = {})
{
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

// The answer of a server that honours ranges to "Range: bytes=first-last".
QByteArray rangeOf(const QByteArray &document, const QByteArray &range)
{
    static const QRegularExpression bytes(u"^bytes=(\\d+)-(\\d+)$"_s);
    const QRegularExpressionMatch match = bytes.match(QString::fromLatin1(range));
    const qsizetype first = match.captured(1).toLongLong();
    const qsizetype last = std::min(match.captured(2).toLongLong(), document.size() - 1);
    const QByteArray size = '/' + QByteArray::number(document.size()) + "\r\n";
    if (!match.hasMatch())
        return response(200, document);
    if (first >= document.size())
        return response(416, {}, "Content-Range: bytes *" + size);
    return response(206, document.mid(first, last - first + 1),
                    "Content-Range: bytes " + QByteArray::number(first) + '-' +
                        QByteArray::number(last) + size);
}

Canned cannedFor(const QUrl &url, const QByteArray &range)
{
    const QString path = url.path();
    const QUrlQuery query(url);
    const auto item = [&query](const char *name) {
        return query.queryItemValue(QLatin1String(name), QUrl::FullyDecoded).toUtf8();
    };
    const QByteArray ok = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    if (path == u"/html" || path == u"/slow")
        return {response(200, "<html>"), {}, 0, path == u"/slow" ? 300 : 0};
    // The bytes of `hex`, `times` over (once by default); with `ranges`, as a
    // server that honours a range asked for.
    const QByteArray document = QByteArray::fromHex(item("hex"))
                                    .repeated(item("times").isEmpty() ? 1 : item("times").toInt());
    if (path == u"/page" && query.hasQueryItem(u"ranges"_s))
        return {rangeOf(document, range)};
    if (path == u"/page")
        return {response(item("status").isEmpty() ? 200 : item("status").toInt(), document)};
    if (path == u"/start-then-silence") // the first KiB of a longer document, then no more
        return {ok + "Content-Length: 100000\r\n\r\n" + QByteArray(1024, '<'), " ", 3'600'000};
    if (path == u"/reset-after-4-kib")
        return {response(200, QByteArray(1024 * 1024, '<')).left(4096), {}, 0, 0, true};
    if (path == u"/redirect") { // to `to` in all after `hops` redirects, 1 by default
        const int hops = item("hops").toInt();
        const QByteArray next = "/redirect?hops=" + QByteArray::number(hops - 1) + "&to=";
        return {response(302, {}, "Location: " + (hops > 1 ? next : "") + item("to") + "\r\n")};
    }
    if (path == u"/hang") // not a byte for an hour
        return {{}, {}, 0, 3'600'000};
    if (path == u"/drip")
        return {ok + "\r\n", "<", 1000};
    if (path == u"/ten-gigabytes")
        return {ok + "Content-Length: 10000000000\r\n\r\n<html>", QByteArray(streamChunk, 'x')};
    if (path == u"/endless-header")
        return {ok + "X-Filler: ", QByteArray(streamChunk, 'a')};
    if (path == u"/header-flood") // 10 MiB of header lines
        return {ok + ("X-Filler: " + QByteArray(52, 'a') + "\r\n").repeated(160 * 1024) +
                "Content-Length: 6\r\n\r\n<html>"};
    if (path == u"/cut-short")
        return {ok + "Content-Length: 100000\r\n\r\n<html>" + QByteArray(994, 'x')};
    return {response(404, "<html>Not Found</html>")};
}

// Writes a canned answer to its socket. A chunk is added every `everyMs`, or
// at every turn of the event loop, while less than one waits to go out.
void play(QTcpSocket *socket, const Canned &canned)
{
    socket->write(canned.head);
    if (canned.reset) {
        // Unsent bytes are dropped and an RST follows what went out.
        const linger now{1, 0};
        socket->flush();
        setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now,
                   sizeof now);
        socket->abort();
        return;
    }
    if (canned.chunk.isEmpty()) {
        socket->disconnectFromHost();
        return;
    }
    auto *timer = new QTimer(socket);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, chunk = canned.chunk] {
        if (socket->bytesToWrite() < streamChunk)
            socket->write(chunk);
    });
    timer->start(canned.everyMs);
}

} // namespace

QSslConfiguration localTlsConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(
        QSslCertificate::fromPath(QStringLiteral(QUORREL_TLS_FIXTURES "/localhost.crt")).value(0));
    QFile key(QStringLiteral(QUORREL_TLS_FIXTURES "/localhost.key"));
    if (!key.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(key.fileName()));
    configuration.setPrivateKey(QSslKey(&key, QSsl::Ec));
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
            connect(socket, &QTcpSocket::bytesWritten, this,
                    [this](qint64 bytes) { sent += bytes; });
            readRequest(socket, *received);
        }
    });
    server_->listen(QHostAddress::LocalHost, 0);
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
    static const QRegularExpression rangeLine(u"\r\nRange: *([^\r]*)"_s,
                                              QRegularExpression::CaseInsensitiveOption);
    const QByteArray range = rangeLine.match(QString::fromLatin1(received)).captured(1).toLatin1();
    const Canned canned = cannedFor(QUrl(QString::fromUtf8(target)), range);
    QTimer::singleShot(canned.delayMs, socket, [socket, canned] { play(socket, canned); });
}

LocalPeer::LocalPeer(Kind kind)
{
    const QString file = folder_.filePath(kind == FtpServer ? u"doc.html"_s : u"proxy.conf"_s);
    QTcpServer probe; // tinyproxy takes the free port the probe gives up
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return;
    const QByteArray port = QByteArray::number(probe.serverPort());
    probe.close();
    if (!writeWholeFile(file, kind == FtpServer
                                  ? "<html>"
                                  : "Port " + port + "\nListen 127.0.0.1\nAllow 127.0.0.1\n") ||
        (kind == FtpServer &&
         !writeWholeFile(folder_.filePath(u"mebibyte.html"_s), QByteArray(1024 * 1024, '<'))))
        return;
    // The system's Python: pyftpdlib comes with the distribution. Asked for
    // port 0, it reports the free port it took once it listens.
    process_.setProcessChannelMode(QProcess::MergedChannels);
    if (kind == FtpServer)
        process_.start(u"/usr/bin/python3"_s, u"-m pyftpdlib -i 127.0.0.1 -p 0 -d"_s.split(u' ')
                                                  << folder_.path());
    else
        process_.start(u"tinyproxy"_s, {u"-d"_s, u"-c"_s, file});
    static const QRegularExpression started(
        uR"(FTP server on 127\.0\.0\.1:(\d+)|Accepting connections)"_s);
    QString log;
    while (port_ == 0 && process_.waitForReadyRead(10'000)) {
        log += QString::fromUtf8(process_.readAll());
        const QRegularExpressionMatch match = started.match(log);
        port_ = !match.hasMatch()   ? 0
                : kind == FtpServer ? match.captured(1).toUShort()
                                    : port.toUShort();
    }
}

LocalPeer::~LocalPeer()
{
    process_.kill();
    process_.waitForFinished();
}
