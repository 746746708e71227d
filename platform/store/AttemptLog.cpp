#include "platform/store/AttemptLog.h"
#include "platform/store/StoreFile.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{

// A line is about 100 bytes (the stamp 25, a host of up to 40, the figures),
// so the current file alone holds a week of attempts at one a minute (10,080
// lines) with hosts of up to 150 characters, and the rolled-over one more.
constexpr qint64 rollOverBytes = 2 * 1024 * 1024;
// A file much larger than the log ever grows is not the log.
constexpr qint64 readBackLimit = 4 * rollOverBytes;

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

// The digits of `text` as a number of at most 18 digits, or nothing.
std::optional<qint64> wholeNumber(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return number;
}

// "2026-12-07T12:34:56+01:00" as seconds since the epoch. Read by hand: a
// week of lines must come back in a blink, and the format is fixed.
std::optional<qint64> stampSeconds(QByteArrayView stamp)
{
    if (stamp.size() != 25 || stamp[4] != '-' || stamp[7] != '-' || stamp[10] != 'T' ||
        stamp[13] != ':' || stamp[16] != ':' || (stamp[19] != '+' && stamp[19] != '-') ||
        stamp[22] != ':')
        return std::nullopt;
    const auto part = [&](qsizetype at, qsizetype length) {
        return wholeNumber(stamp.sliced(at, length));
    };
    const auto year = part(0, 4), month = part(5, 2), day = part(8, 2), hour = part(11, 2),
               minute = part(14, 2), second = part(17, 2), offsetHours = part(20, 2),
               offsetMinutes = part(23, 2);
    if (!year || !month || !day || !hour || !minute || !second || !offsetHours || !offsetMinutes)
        return std::nullopt;
    const QDate date{static_cast<int>(*year), static_cast<int>(*month), static_cast<int>(*day)};
    if (!date.isValid() || *hour > 23 || *minute > 59 || *second > 60 || *offsetMinutes > 59)
        return std::nullopt;
    constexpr qint64 julianDayOfEpoch = 2440588;
    const qint64 offset = (*offsetHours * 60 + *offsetMinutes) * 60 * (stamp[19] == '-' ? -1 : 1);
    return (date.toJulianDay() - julianDayOfEpoch) * 86400 + *hour * 3600 + *minute * 60 + *second -
           offset;
}

// "231 ms" or "10844 bytes" as 231 or 10844.
std::optional<qint64> figure(QByteArrayView field, QByteArrayView unit)
{
    if (!field.endsWith(unit))
        return std::nullopt;
    return wholeNumber(field.chopped(unit.size()));
}

// The tab-separated fields of a line, as views into it.
QList<QByteArrayView> fieldsOf(QByteArrayView line)
{
    QList<QByteArrayView> fields;
    for (qsizetype at = 0;;) {
        const qsizetype tab = line.indexOf('\t', at);
        fields.append(line.sliced(at, (tab < 0 ? line.size() : tab) - at));
        if (tab < 0)
            return fields;
        at = tab + 1;
    }
}

enum class LineKind { Attempt, TooOld, NotAnAttempt };

LineKind readLine(QByteArrayView line, qint64 since, std::vector<LoggedAttempt> &attempts)
{
    const QList<QByteArrayView> fields = fieldsOf(line);
    if (fields.size() != 7 || (fields[3] != "ok" && fields[3] != "failed"))
        return LineKind::NotAnAttempt;
    const auto stamp = stampSeconds(fields[0]);
    const auto durationMs = figure(fields[5], " ms");
    const auto bytes = figure(fields[6], " bytes");
    if (!stamp || !durationMs || !bytes)
        return LineKind::NotAnAttempt;
    if (*stamp < since)
        return LineKind::TooOld;
    attempts.push_back({*stamp,
                        {.method = QString::fromUtf8(fields[1]),
                         .host = QString::fromUtf8(fields[2]),
                         .succeeded = fields[3] == "ok",
                         .reason = QString::fromUtf8(fields[4]),
                         .durationMs = *durationMs,
                         .bytes = *bytes}});
    return LineKind::Attempt;
}

void readLinesInto(LoggedAttempts &read, const QString &fileName, qint64 since)
{
    const StoreFile file = StoreFile::read(fileName, readBackLimit);
    const QByteArrayView contents = file.contents;
    // What follows the last line break is nothing, or a line torn by a crash.
    for (qsizetype at = 0; at < contents.size();) {
        const qsizetype end = contents.indexOf('\n', at);
        const QByteArrayView line = contents.sliced(at, (end < 0 ? contents.size() : end) - at);
        if (end < 0 || readLine(line, since, read.attempts) == LineKind::NotAnAttempt)
            ++read.skippedLines;
        at = end < 0 ? contents.size() : end + 1;
    }
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

LoggedAttempts AttemptLog::readBack(qint64 lastSeconds) const
{
    const QDateTime now = QDateTime::currentDateTime();
    LoggedAttempts read;
    read.readAt = now.toSecsSinceEpoch();
    read.startOfToday = now.date().startOfDay().toSecsSinceEpoch();
    const qint64 since = read.readAt - lastSeconds;
    if (!fileName_.isEmpty()) {
        readLinesInto(read, fileName_ + QStringLiteral(".1"), since);
        readLinesInto(read, fileName_, since);
    }
    return read;
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
