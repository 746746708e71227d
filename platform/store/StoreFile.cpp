#include "platform/store/StoreFile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{

constexpr int lockRetryMs = 5;

// A window keeps painting while its store waits for a lock: the thread's
// events are handled meanwhile, but no click or key, which could start
// another save.
void pauseBeforeRetry()
{
    const QCoreApplication *application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread()) {
        QThread::msleep(lockRetryMs);
        return;
    }
    QEventLoop pause;
    QTimer::singleShot(lockRetryMs, &pause, &QEventLoop::quit);
    pause.exec(QEventLoop::ExcludeUserInputEvents);
}

// Whether the open file is still the one that the name leads to.
bool isStillNamed(int descriptor, const QByteArray &fileName)
{
    struct stat opened {
    };
    struct stat named {
    };
    return fstat(descriptor, &opened) == 0 && stat(fileName.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Writes every byte, going on where a short write stopped.
bool writeAll(int descriptor, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = write(descriptor, bytes.data(), static_cast<size_t>(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

bool holdsExactly(int descriptor, qsizetype size)
{
    struct stat status {
    };
    return fstat(descriptor, &status) == 0 && status.st_size == size;
}

// A file that is replaced keeps its permissions; mkostemp made a new one 0600
// (mkstemp(3)).
bool takeModeOf(int descriptor, const QByteArray &fileName)
{
    struct stat status {
    };
    if (stat(fileName.constData(), &status) != 0)
        return errno == ENOENT;
    return fchmod(descriptor, status.st_mode & 07777) == 0;
}

// Once the folder is synced, the rename survives a power cut (fsync(2): a
// file's sync does not reach the folder's entry for it).
bool syncFolderOf(const QByteArray &fileName)
{
    const qsizetype slash = fileName.lastIndexOf('/');
    const QByteArray folder =
        slash < 0 ? QByteArray(".") : fileName.left(std::max<qsizetype>(slash, 1));
    const int descriptor = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool synced = fsync(descriptor) == 0;
    return close(descriptor) == 0 && synced;
}

// Writes the bytes under a temporary name beside the target, then renames it
// over the target; the new file gets `mode`, or else the target's own.
bool replaceFile(const QByteArray &target, QByteArrayView contents, std::optional<mode_t> mode)
{
    QByteArray temporary = target + ".XXXXXX";
    // Made new (O_EXCL), so never through a link (open(2)), and its user's
    // alone (0600) unless it gets a mode.
    const int descriptor = mkostemp(temporary.data(), O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0)
        return false;
    const bool moded = mode ? fchmod(descriptor, *mode) == 0 : takeModeOf(descriptor, target);
    const bool written = moded && writeAll(descriptor, contents) && fsync(descriptor) == 0 &&
                         holdsExactly(descriptor, contents.size());
    const bool closed = close(descriptor) == 0;
    if (!written || !closed || rename(temporary.constData(), target.constData()) != 0) {
        unlink(temporary.constData());
        return false;
    }
    // The new file is in place whatever the folder's sync gives: only a power
    // cut in the next moments could still bring the old one back.
    static_cast<void>(syncFolderOf(target));
    return true;
}

// A file that its user may not write is not replaced either, though its
// folder would allow it (rename(2) asks only for the folder's permissions).
bool mayReplace(const QByteArray &fileName)
{
    return access(fileName.constData(), W_OK) == 0 || errno == ENOENT;
}

// The bytes of a path held in a QString, or nothing when Qt would change them:
// a file name that is not UTF-8 comes back with other bytes, so another file.
std::optional<QString> exactPath(const QByteArray &bytes)
{
    QString path = QFile::decodeName(bytes);
    if (QFile::encodeName(path) != bytes)
        return std::nullopt;
    return path;
}

} // namespace

StoreFile StoreFile::read(const QString &fileName, qint64 maxBytes)
{
    // Opened before it is looked at, so that what is judged is what is read:
    // a pipe put in its place after a look would make the open wait for a
    // writer (fifo(7)); without blocking, the open returns at once. Links are
    // followed: one to nothing is no file (ENOENT), a link loop (ELOOP) is
    // something that cannot be read, even by root.
    const int descriptor =
        open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return {errno == ENOENT || errno == ENOTDIR ? Found::Missing : Found::Unreadable, {}};
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        static_cast<void>(close(descriptor)); // only read from: nothing to lose
        return {Found::Unreadable, {}};
    }
    // Reading a pipe or a device might never end.
    struct stat status {
    };
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return {Found::Unreadable, {}};
    if (status.st_size > maxBytes)
        return {Found::TooLarge, {}};
    QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {Found::Unreadable, {}};
    return {Found::Read, std::move(contents)};
}

bool StoreFile::replace(const QString &fileName, QByteArrayView contents)
{
    // A link is replaced at the file it leads to, so it stays a link.
    const QFileInfo info(fileName);
    const QByteArray target =
        QFile::encodeName(info.isSymLink() && info.exists() ? info.canonicalFilePath() : fileName);
    return mayReplace(target) && replaceFile(target, contents, std::nullopt);
}

bool StoreFile::replaceAs(const QString &fileName, QByteArrayView contents, mode_t mode)
{
    return replaceFile(QFile::encodeName(fileName), contents, mode);
}

bool StoreFile::writeDraft(const QString &fileName, QByteArrayView contents)
{
    const int descriptor = open(QFile::encodeName(fileName).constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return false;
    const bool written = writeAll(descriptor, contents);
    return close(descriptor) == 0 && written;
}

bool StoreFile::makeFolder(const QString &path)
{
    const QString folder = QDir::cleanPath(QDir(path).absolutePath());
    // Each folder from the top down; those that are there stay as they are.
    QString step;
    for (const QString &name : folder.split(u'/', Qt::SkipEmptyParts)) {
        step += u'/' + name;
        const QByteArray bytes = QFile::encodeName(step);
        struct stat status {
        };
        if (stat(bytes.constData(), &status) != 0 && mkdir(bytes.constData(), 0700) != 0 &&
            errno != EEXIST)
            return false;
    }
    return QFileInfo(folder).isDir();
}

StorePlace StoreFile::userFolder(const char *variable, QLatin1StringView underHome)
{
    // A relative path means nothing in another working folder: it is ignored.
    QByteArray chosen = qgetenv(variable);
    if (!chosen.startsWith('/')) {
        const QByteArray home = qgetenv("HOME");
        if (!home.startsWith('/'))
            return {{},
                    tr("Quorrel does not know your home folder (HOME is not set to one), so it "
                       "has nowhere to save.")};
        chosen = home + '/' + QByteArray(underHome.data(), underHome.size());
    }
    if (const std::optional<QString> path = exactPath(chosen))
        return {*path, {}};
    return {{},
            tr("The name of the folder %1 is not valid UTF-8: Quorrel cannot save there "
               "without writing to another folder.")
                .arg(QFile::decodeName(chosen))};
}

StoreLock::StoreLock(const QString &fileName, int waitMs)
    : lockFile_(QFile::encodeName(fileName + QStringLiteral(".lock")))
{
    const QDeadlineTimer deadline(waitMs);
    while ((state_ = tryOnce()) == State::Busy && !deadline.hasExpired())
        pauseBeforeRetry();
}

StoreLock::~StoreLock()
{
    if (state_ != State::Locked)
        return;
    // Removed while still locked: a waiter that opened this file finds it
    // gone once it has the lock, and tries again on a new one.
    unlink(lockFile_.constData());
    close(descriptor_);
}

StoreLock::State StoreLock::tryOnce()
{
    // A link in the lock file's place is not followed: it could lead anywhere.
    // Nor is a pipe or a device waited for or locked.
    descriptor_ =
        open(lockFile_.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (descriptor_ < 0)
        return errno == ELOOP || errno == EISDIR || errno == ENXIO ? State::NotAFile
                                                                   : State::Failed;
    struct stat status {
    };
    if (fstat(descriptor_, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(std::exchange(descriptor_, -1));
        return State::NotAFile;
    }
    const bool locked = flock(descriptor_, LOCK_EX | LOCK_NB) == 0;
    const bool busy = !locked && errno == EWOULDBLOCK;
    if (locked && isStillNamed(descriptor_, lockFile_))
        return State::Locked;
    close(descriptor_);
    descriptor_ = -1;
    // A lock file removed by its last holder meanwhile counts as busy: the
    // next try opens the new one.
    return locked || busy ? State::Busy : State::Failed;
}
