#pragma once

#include <QString>
#include <QtGlobal>
#include <vector>

// One connection attempt as the log keeps it.
struct AttemptEntry {
    QString method; // "HTTP" or "FTP"
    QString host;   // as it may be shown to others: one line, no password
    bool succeeded = false;
    QString reason; // why it failed, in plain words; empty when it succeeded
    qint64 durationMs = 0;
    qint64 bytes = 0; // received, headers included
};

// An attempt read back from the log, stamped as it was written.
struct LoggedAttempt {
    qint64 secondsSinceEpoch = 0; // the stamp, in UTC
    AttemptEntry entry;
};

// What the log holds, oldest first, as far as it can be read.
struct LoggedAttempts {
    std::vector<LoggedAttempt> attempts;
    // Lines that are not attempts: hand-edited, torn by a crash, of another format.
    int skippedLines = 0;
    qint64 readAt = 0;       // when it was read, in seconds since the epoch
    qint64 startOfToday = 0; // the local midnight before that
};

// The attempts, one line each, in a text file for the user to read or follow
// with `tail -f`: the local time in ISO 8601 with its offset, the method, the
// host, "ok" or "failed", the reason, the duration and the bytes, separated by
// tabs. Past 1 MiB the file becomes `<file>.1`, replacing an older one, and a
// new file begins. The texts are written as given: the caller keeps them to
// one line each. A file that is not the user's own regular file (a link, a
// pipe, a folder) is never written; the error output says so once.
class AttemptLog
{
public:
    // $XDG_STATE_HOME/quorrel/attempts.log, or under ~/.local/state; empty
    // when there is no home folder to put it in.
    static QString defaultFileName();

    // An empty name keeps no log.
    explicit AttemptLog(QString fileName);

    const QString &fileName() const { return fileName_; }
    // Stamps the entry with the time and adds its line, whole or not at all.
    // False when it could not be written. Never waits for anything.
    [[nodiscard]] bool append(const AttemptEntry &entry);
    // The attempts of the last `lastSeconds`: the rolled-over file's, then the
    // current file's. An unreadable file (missing, not a regular file) holds none.
    LoggedAttempts readBack(qint64 lastSeconds) const;

private:
    // An open descriptor of the log, or -1 when it cannot be used.
    int openLog();
    bool writeLine(int descriptor, const QByteArray &line);
    bool rollOver();
    void complain(const QString &why);

    QString fileName_;
    qint64 size_ = 0;         // of the log when it was last opened
    bool complained_ = false; // since the log last worked
};
