#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{

// Long enough for a busy instance to get to its events; short enough that a
// stuck one does not keep the user waiting for the second launch.
constexpr int handOverMs = 3000;
// A later launch sends its request at once; one that does not is dropped.
constexpr int requestWaitMs = 1000;
constexpr std::size_t maxPendingLaunches = 8;
constexpr qsizetype maxMessageBytes = 256;
// How soon a launch asks again when the instance is not listening yet.
constexpr int retryMs = 20;
constexpr int acceptPauseMs = 100;

// What a later launch asks: "show" or "start", then "history" when it asks
// for the History window, as one line.
QByteArray requestFor(bool start, bool history)
{
    return QByteArray(start ? "start" : "show") + (history ? " history\n" : "\n");
}
const QByteArray acknowledgement = QByteArrayLiteral("ok\n");

// Closes the descriptor it holds when it goes.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
};

// $XDG_RUNTIME_DIR lives as long as the session. It is used only when no one
// else can put a socket or a lock of their own in it.
bool isOursAlone(const QByteArray &folder)
{
    struct stat status {
    };
    return folder.startsWith('/') && stat(folder.constData(), &status) == 0 &&
           S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & 07777) == 0700;
}

// A path of the settings file's hash fits in a socket address whatever its length.
QByteArray socketPathFor(const QString &settingsFile)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return {};
    if (!isOursAlone(runtime)) {
        std::fputs("quorrel: the runtime folder is not the user's alone (0700): no check "
                   "for another Quorrel\n",
                   stderr);
        return {};
    }
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(settingsFile), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    const QByteArray path = runtime + "/quorrel-" + hash;
    return path.size() < qsizetype(sizeof(sockaddr_un::sun_path)) ? path : QByteArray();
}

sockaddr_un addressOf(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    return address;
}

bool isOurUser(int socket)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == geteuid();
}

enum class Lock { Taken, Busy, Failed };

// The lock file is never removed, so the descriptor always locks the file its
// name leads to.
Lock takeLock(const QByteArray &lockPath, int &descriptor)
{
    descriptor =
        open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return Lock::Failed;
    struct stat status {
    };
    if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
        flock(descriptor, LOCK_EX | LOCK_NB) == 0)
        return Lock::Taken;
    const bool busy = errno == EWOULDBLOCK;
    close(descriptor);
    descriptor = -1;
    return busy ? Lock::Busy : Lock::Failed;
}

// Reads until a line has come, within the deadline. Empty when none did.
QByteArray lineFrom(int socket, const QDeadlineTimer &deadline)
{
    QByteArray heard;
    while (!heard.endsWith('\n') && heard.size() <= maxMessageBytes) {
        pollfd readable{socket, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char bytes[maxMessageBytes];
        const ssize_t got = recv(socket, bytes, sizeof bytes, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return {};
        heard.append(bytes, got);
    }
    return heard;
}

// One try at telling the instance that listens at `path`: true when it took the news.
bool tell(const QByteArray &path, const QByteArray &request, const QDeadlineTimer &deadline)
{
    const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const sockaddr_un address = addressOf(path);
    // A Unix socket connects at once or not at all (unix(7): EAGAIN when its
    // queue is full), and its peer's credentials are those of the listener.
    return socket.fd >= 0 &&
           connect(socket.fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
           isOurUser(socket.fd) &&
           send(socket.fd, request.constData(), static_cast<size_t>(request.size()),
                MSG_NOSIGNAL) == request.size() &&
           lineFrom(socket.fd, deadline) == acknowledgement;
}

} // namespace

struct SingleInstance::Pending {
    int descriptor;
    std::unique_ptr<QSocketNotifier> readable;
    QByteArray heard;
    QDeadlineTimer deadline{requestWaitMs};
    bool done = false;

    explicit Pending(int socket)
        : descriptor(socket),
          readable(std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read))
    {
    }
    ~Pending()
    {
        readable.reset();
        close(descriptor);
    }
    Pending(const Pending &) = delete;
    Pending &operator=(const Pending &) = delete;
};

SingleInstance::SingleInstance(const QString &settingsFile)
    : socketPath_(socketPathFor(settingsFile))
{
    sweep_.setInterval(requestWaitMs / 10);
    connect(&sweep_, &QTimer::timeout, this, &SingleInstance::dropStalePending);
}

SingleInstance::~SingleInstance()
{
    pending_.clear();
    accepting_.reset();
    if (listener_ >= 0) {
        // Gone before the lock: a launch in between finds neither, and waits
        // for the lock.
        unlink(socketPath_.constData());
        close(listener_);
    }
    if (lock_ >= 0)
        close(lock_);
}

bool SingleInstance::handOver(bool start, bool history)
{
    if (socketPath_.isEmpty())
        return false;
    const QByteArray request = requestFor(start, history);
    const QDeadlineTimer deadline(handOverMs);
    // The lock decides; the socket is asked after each try, as its holder may
    // only now be starting to listen.
    do {
        const Lock lock = takeLock(socketPath_ + ".lock", lock_);
        if (lock == Lock::Failed)
            return false;
        if (tell(socketPath_, request, deadline)) {
            if (lock_ >= 0)
                close(std::exchange(lock_, -1));
            return true;
        }
        if (lock == Lock::Taken) {
            listen();
            return false;
        }
        usleep(retryMs * 1000);
    } while (!deadline.hasExpired());
    return false;
}

// A socket left by an instance that crashed is in the way: it is ours, as the
// lock says, and goes. When listening fails all the same, later launches find
// no one to tell and run on their own.
void SingleInstance::listen()
{
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(socketPath_);
    if (listener_ < 0 || (unlink(socketPath_.constData()) != 0 && errno != ENOENT) ||
        bind(listener_, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener_, SOMAXCONN) != 0) {
        if (listener_ >= 0)
            close(std::exchange(listener_, -1));
        return;
    }
    accepting_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    connect(accepting_.get(), &QSocketNotifier::activated, this, &SingleInstance::acceptLaunches);
}

// A few launches are heard at a time, each for a second at most: a flood of
// connections costs neither memory nor descriptors, and the real launch that
// comes after it is heard.
void SingleInstance::acceptLaunches()
{
    for (;;) {
        const int socket = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket < 0 && (errno == EINTR || errno == ECONNABORTED))
            continue;
        if (socket < 0 && errno != EAGAIN) {
            // Out of descriptors or memory: the next try comes later, not in a spin.
            accepting_->setEnabled(false);
            QTimer::singleShot(acceptPauseMs, this, [this] { accepting_->setEnabled(true); });
        }
        if (socket < 0)
            return;
        if (!isOurUser(socket) || pending_.size() >= maxPendingLaunches) {
            close(socket);
            continue;
        }
        Pending &launch = pending_.emplace_back(socket);
        connect(launch.readable.get(), &QSocketNotifier::activated, this,
                [this, &launch] { hear(launch); });
        sweep_.start();
    }
}

void SingleInstance::hear(Pending &launch)
{
    char bytes[maxMessageBytes];
    const ssize_t got = recv(launch.descriptor, bytes, sizeof bytes, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    launch.heard.append(bytes, std::max<ssize_t>(got, 0));
    const auto isRequest = [&](bool start, bool history) {
        return launch.heard == requestFor(start, history);
    };
    const bool start = isRequest(true, false) || isRequest(true, true);
    const bool history = isRequest(false, true) || isRequest(true, true);
    const bool known = start || history || isRequest(false, false);
    if (!known && got > 0 && launch.heard.size() < maxMessageBytes && !launch.heard.contains('\n'))
        return; // more is coming
    launch.done = true;
    launch.readable->setEnabled(false);
    if (!known)
        return;
    static_cast<void>(send(launch.descriptor, acknowledgement.constData(),
                           static_cast<size_t>(acknowledgement.size()),
                           MSG_NOSIGNAL | MSG_DONTWAIT));
    // Told once this notifier's event is over: the window may open a message
    // box, whose events could end this launch meanwhile.
    QMetaObject::invokeMethod(
        this, [this, start, history] { emit launchedAgain(start, history); }, Qt::QueuedConnection);
}

void SingleInstance::dropStalePending()
{
    pending_.remove_if(
        [](const Pending &launch) { return launch.done || launch.deadline.hasExpired(); });
    if (pending_.empty())
        sweep_.stop();
}
