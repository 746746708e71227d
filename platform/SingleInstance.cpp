#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QLocalSocket>

namespace
{

// Long enough for a busy instance to get to its events; short enough that a
// stuck one does not keep the user waiting for the second launch.
constexpr int answerWaitMs = 3000;

const QByteArray showRequest = QByteArrayLiteral("show\n");
const QByteArray startRequest = QByteArrayLiteral("start\n");
const QByteArray acknowledgement = QByteArrayLiteral("ok\n");

// $XDG_RUNTIME_DIR is the user's alone and lives as long as the session; a
// path of the settings file's hash fits in a socket address whatever its length.
QString socketNameFor(const QString &settingsFile)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.startsWith(QLatin1Char('/')))
        return {};
    const QByteArray hash =
        QCryptographicHash::hash(settingsFile.toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return runtime + QStringLiteral("/quorrel-") + QString::fromLatin1(hash);
}

} // namespace

SingleInstance::SingleInstance(const QString &settingsFile)
    : socketName_(socketNameFor(settingsFile))
{
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::handOver(bool start)
{
    if (socketName_.isEmpty())
        return false;
    lock_ = std::make_unique<QLockFile>(socketName_ + QStringLiteral(".lock"));
    // The lock is stale only when its process is gone, however long it runs.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        listen();
        return false;
    }
    return tellRunningInstance(start);
}

bool SingleInstance::tellRunningInstance(bool start)
{
    QLocalSocket socket;
    socket.connectToServer(socketName_);
    const QByteArray &request = start ? startRequest : showRequest;
    if (!socket.waitForConnected(answerWaitMs) || socket.write(request) != request.size() ||
        !socket.waitForBytesWritten(answerWaitMs))
        return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(answerWaitMs))
            return false;
    return socket.readLine() == acknowledgement;
}

// A socket left by an instance that crashed is in the way: it is ours, as the
// lock says, and goes. When listening fails all the same, later launches find
// no one to tell and run on their own.
void SingleInstance::listen()
{
    QLocalServer::removeServer(socketName_);
    static_cast<void>(server_.listen(socketName_));
}

void SingleInstance::answer(QLocalSocket *socket)
{
    if (!socket->canReadLine())
        return;
    const QByteArray request = socket->readLine();
    socket->write(acknowledgement);
    socket->disconnectFromServer();
    emit launchedAgain(request == startRequest);
}
