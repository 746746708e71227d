#pragma once

#include <QString>
#include <QtGlobal>

// One connection attempt as the log keeps it.
struct AttemptEntry {
    QString method; // "HTTP" or "FTP"
    QString host;   // as the user typed it
    bool succeeded = false;
    QString reason; // why it failed, in plain words; empty when it succeeded
    qint64 durationMs = 0;
    qint64 bytes = 0; // received, headers included
};

// The attempts, one line each, in a text file for the user to read or follow
// with `tail -f`: the local time in ISO 8601 with its offset, the method, the
// host, "ok" or "failed", the reason, the duration and the bytes, separated by
// tabs. Past 1 MiB the file becomes `<file>.1`, replacing an older one, and a
// new file begins. Control characters of a host are written as \xNN, so every
// attempt stays one line.
class AttemptLog
{
public:
    // $XDG_STATE_HOME/quorrel/attempts.log, or under ~/.local/state; empty
    // when there is no home folder to put it in.
    static QString defaultFileName();

    // An empty name keeps no log.
    explicit AttemptLog(QString fileName);

    const QString &fileName() const { return fileName_; }
    // Stamps the entry with the time and adds its line. False when it could
    // not be written.
    [[nodiscard]] bool append(const AttemptEntry &entry);

private:
    [[nodiscard]] bool rollOverBefore(qint64 lineBytes);

    QString fileName_;
};
