#include "platform/StoreFile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{

// A store is locked for milliseconds; a waiter gives up after this.
constexpr int lockWaitMs = 5000;
constexpr int lockRetryMs = 2;

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

} // namespace

StoreFile StoreFile::read(const QString &fileName, qint64 maxBytes)
{
    // stat follows links: a link to nothing is no file, a link loop is
    // something that cannot be read, even by root.
    struct stat status {
    };
    if (stat(QFile::encodeName(fileName).constData(), &status) != 0)
        return {errno == ENOENT || errno == ENOTDIR ? State::Missing : State::Unreadable, {}};
    // Opening a pipe would wait for a writer, reading a device might never end.
    if (!S_ISREG(status.st_mode))
        return {State::Unreadable, {}};
    if (status.st_size > maxBytes)
        return {State::TooLarge, {}};

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {State::Unreadable, {}};
    QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {State::Unreadable, {}};
    return {State::Read, std::move(contents)};
}

StoreLock::StoreLock(const QString &fileName)
    : lockFile_(QFile::encodeName(fileName + QStringLiteral(".lock")))
{
    const QDeadlineTimer deadline(lockWaitMs);
    while ((state_ = tryOnce()) == State::Busy && !deadline.hasExpired())
        QThread::msleep(lockRetryMs);
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
    descriptor_ = open(lockFile_.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor_ < 0)
        return State::Failed;
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
