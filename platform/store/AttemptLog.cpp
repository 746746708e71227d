#include "platform/store/AttemptLog.h"
#include "platform/store/StoreFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

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

QString withoutControlCharacters(const QString &text)
{
    QString shown;
    for (const QChar c : text)
        shown += c.unicode() < 0x20 || c.unicode() == 0x7f
                     ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                     : QString(c);
    return shown;
}

QByteArray lineOf(const AttemptEntry &entry)
{
    const QStringList fields{
        localTimeWithOffset(QDateTime::currentDateTime()),
        entry.method,
        withoutControlCharacters(entry.host),
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
    if (!rollOverBefore(line.size()))
        return false;
    // Hosts may carry a password, as the settings do: the file is the user's alone.
    QFile file(fileName_);
    return file.open(QIODevice::WriteOnly | QIODevice::Append,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
           file.write(line) == line.size();
}

// rename() replaces the older rolled-over file in one step.
bool AttemptLog::rollOverBefore(qint64 lineBytes)
{
    const QFileInfo current(fileName_);
    if (!current.exists() || current.size() + lineBytes <= rollOverBytes)
        return true;
    return std::rename(QFile::encodeName(fileName_).constData(),
                       QFile::encodeName(fileName_ + QStringLiteral(".1")).constData()) == 0;
}
