#include "platform/store/AttemptLog.h"
#include "platform/store/StoreFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{

constexpr qint64 rollOverBytes = 1024 * 1024;

QString twoDigits(int number)
{
    return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

// ISO 8601 with the offset always written out, +00:00 included.
QString localTimeWithOffset(const QDateTime &now)
{
    const int offsetMinutes = now.offsetFromUtc() / 60;
    const int absolute = std::abs(offsetMinutes);
    return now.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) +
           (offsetMinutes < 0 ? QLatin1Char('-') : QLatin1Char('+')) + twoDigits(absolute / 60) +
           QLatin1Char(':') + twoDigits(absolute % 60);
}

QByteArray lineOf(const AttemptEntry &entry)
{
    const QStringList fields{
        localTimeWithOffset(QDateTime::currentDateTime()),
        entry.method,
        entry.host,
        entry.succeeded ? QStringLiteral("ok") : QStringLiteral("failed"),
        entry.reason,
        QStringLiteral("%1 ms").arg(entry.durationMs),
        QStringLiteral("%1 bytes").arg(entry.bytes),
    };
    return fields.join(QLatin1Char('\t')).toUtf8() + '\n';
}

} // namespace

QString AttemptLog::defaultFileName()
{
    const StorePlace state =
        StoreFile::userFolder("XDG_STATE_HOME", QLatin1StringView(".local/state"));
    return state.path.isEmpty() ? QString() : state.path + QStringLiteral("/quorrel/attempts.log");
}

AttemptLog::AttemptLog(QString fileName) : fileName_(std::move(fileName)) {}

bool AttemptLog::append(const AttemptEntry &entry)
{
    if (fileName_.isEmpty() || !StoreFile::makeFolder(QFileInfo(fileName_).path()))
        return false;
    const QByteArray line = lineOf(entry);
    int descriptor = openLog();
    if (descriptor >= 0 && size_ + line.size() > rollOverBytes) {
        close(descriptor);
        descriptor = rollOver() ? openLog() : -1;
    }
    if (descriptor < 0)
        return false;
    const bool written = writeLine(descriptor, line);
    return close(descriptor) == 0 && written;
}

// Never through a link, never waiting for a reader of a pipe, and only into
// the user's own regular file: anything else in its place is left alone.
int AttemptLog::openLog()
{
    const QByteArray name = QFile::encodeName(fileName_);
    // Hosts may carry a password, as the settings do: the file is the user's alone.
    const int descriptor =
        open(name.constData(),
             O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        complain(QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    struct stat status {
    };
    // A second name would make another file of the user's grow by our lines.
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid() ||
        status.st_nlink != 1) {
        close(descriptor);
        complain(QStringLiteral("not a regular file of this user alone"));
        return -1;
    }
    size_ = status.st_size;
    return descriptor;
}

// One write() a line, so a reader never sees half of one from us. A write cut
// short (a full disk, a file size limit) is taken back, so the next line does
// not begin in the middle of this one.
bool AttemptLog::writeLine(int descriptor, const QByteArray &line)
{
    const ssize_t written = write(descriptor, line.constData(), static_cast<size_t>(line.size()));
    if (written == line.size()) {
        complained_ = false;
        return true;
    }
    complain(QString::fromLocal8Bit(std::strerror(written < 0 ? errno : EFBIG)));
    if (written > 0) {
        const off_t end = lseek(descriptor, 0, SEEK_CUR);
        if (end < written || ftruncate(descriptor, end - written) != 0)
            std::fputs("quorrel: a line cut short is left in the attempts log\n", stderr);
    }
    return false;
}

// rename() replaces the older rolled-over file in one step.
bool AttemptLog::rollOver()
{
    if (std::rename(QFile::encodeName(fileName_).constData(),
                    QFile::encodeName(fileName_ + QStringLiteral(".1")).constData()) == 0)
        return true;
    complain(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

// Once until the log works again: the attempts go on, and the error output
// is not flooded every minute.
void AttemptLog::complain(const QString &why)
{
    if (std::exchange(complained_, true))
        return;
    std::fprintf(stderr, "quorrel: no line in the attempts log %s: %s\n",
                 QFile::encodeName(fileName_).constData(), why.toLocal8Bit().constData());
}
