#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QCoreApplication>
#include <QString>
#include <sys/types.h>

// Where a store's files go, or why they can go nowhere: a refusal says so to
// the user, and nothing is written.
struct StorePlace {
    QString path;
    QString refusal;
};

// The file of a store as it was found on disk. The stores read their files
// whole, so a file far larger than a store ever writes is not read at all,
// and neither is anything but a regular file (a folder, a pipe, a device).
struct StoreFile {
    Q_DECLARE_TR_FUNCTIONS(StoreFile)

public:
    enum class Found {
        Missing,    // no file there, or a link to nothing: the store is empty
        Read,       // `contents` holds the whole file
        TooLarge,   // larger than the limit given
        Unreadable, // something there that cannot be read as a file
    };

    Found found = Found::Missing;
    QByteArray contents;

    static StoreFile read(const QString &fileName, qint64 maxBytes);

    // Replaces the file with `contents` in one step. They are written under a
    // temporary name, synced and measured first, so a write that does not
    // reach the disk whole, on a full disk say, leaves the old file as it was
    // and gives false. A new file is its user's alone (0600); a replaced one
    // keeps its mode. A link is followed to the file it names.
    static bool replace(const QString &fileName, QByteArrayView contents);
    // Replaces a file of the system's as `replace` does, for a program that
    // runs as root: the file gets `mode` whatever the old one had, and a link
    // or anything else in its place is replaced, not followed or written to.
    static bool replaceAs(const QString &fileName, QByteArrayView contents, mode_t mode);
    // Writes a new file, the user's alone, that is read back before anything
    // relies on it, so it is not synced. False when the name is taken.
    static bool writeDraft(const QString &fileName, QByteArrayView contents);
    // Makes the folder and the missing ones above it, each its user's alone
    // (0700). True when the folder is there.
    static bool makeFolder(const QString &path);
    // The folder of the user's files of a kind: the absolute path in the
    // environment variable (XDG_CONFIG_HOME, XDG_DATA_HOME), else
    // `underHome` in the home folder (freedesktop.org's XDG Base Directory
    // rules). A path that Qt cannot hold byte for byte, or no home folder, is
    // refused.
    static StorePlace userFolder(const char *variable, QLatin1StringView underHome);
};

// Keeps other Quorrel processes out while a store file is read, changed and
// replaced. It is a flock() on the lock file <file>.lock: the system lets go
// of it when its process ends, however it ends (flock(2): the lock goes with
// the last descriptor of its file), so no lock outlives a crash and no one has
// to guess when a lock is stale. A waiter takes it the moment it is free. The
// lock file goes when the lock is let go.
class StoreLock
{
public:
    enum class State {
        Locked,
        Busy,     // another process held it for the whole wait
        Failed,   // the lock file could not be made, as in a folder that is not writable
        NotAFile, // a link, a folder, a pipe or a device is where the lock file belongs
    };

    // Waits at most `waitMs` for another process to let go. On the thread of
    // the application's events, they are handled meanwhile (all but the
    // user's input), so a window goes on painting.
    explicit StoreLock(const QString &fileName, int waitMs = 1000);
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
