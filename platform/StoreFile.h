#pragma once

#include <QByteArray>
#include <QString>

// The file of a store as it was found on disk. The stores read their files
// whole, so a file far larger than a store ever writes is not read at all,
// and neither is anything but a regular file (a folder, a pipe, a device).
struct StoreFile {
    enum class State {
        Missing,    // no file there, or a link to nothing: the store is empty
        Read,       // `contents` holds the whole file
        TooLarge,   // larger than the limit given
        Unreadable, // something there that cannot be read as a file
    };

    State state = State::Missing;
    QByteArray contents;

    static StoreFile read(const QString &fileName, qint64 maxBytes);
};

// Keeps other Quorrel processes out while a store file is read, changed and
// replaced. It is a flock() on the lock file <file>.lock: the system lets go
// of it when its process ends, however it ends, so no lock outlives a crash
// and no one has to guess when a lock is stale. A waiter takes it the moment
// it is free. The lock file goes when the lock is let go.
class StoreLock
{
public:
    enum class State {
        Locked,
        Busy,   // another process held it for the whole wait, a few seconds
        Failed, // the lock file could not be made, as in a folder that is not writable
    };

    explicit StoreLock(const QString &fileName);
    ~StoreLock();
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;

    State state() const { return state_; }

private:
    State tryOnce();

    QByteArray lockFile_;
    int descriptor_ = -1;
    State state_ = State::Failed;
};
