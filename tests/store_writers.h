#pragma once

// Driving store_writer_child processes and judging the files they leave:
// shared by the crash test and the two-instance test.

#include "registry_snapshots.h"
#include "settings_snapshots.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

// One store_writer_child process, with the arguments its head describes.
class StoreWriter
{
public:
    explicit StoreWriter(const QStringList &arguments)
    {
        process_.start(QStringLiteral(STORE_WRITER_CHILD), arguments);
    }

    bool started() { return process_.waitForStarted(); }

    // Waits for the writer's report of its next whole write.
    bool waitForWrite()
    {
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(10000))
                return false;
        const bool written = process_.readLine() == "written\n";
        writesReported_ += written;
        return written;
    }

    // The whole writes that the writer reported, those it reported just
    // before it was killed included.
    int writesReported()
    {
        writesReported_ += static_cast<int>(process_.readAllStandardOutput().count("written\n"));
        return writesReported_;
    }

    // A racing writer writes once for each line it reads. QProcess passes
    // the line on only while it waits for something of this process.
    bool startRound() { return process_.write("\n") == 1 && process_.waitForBytesWritten(); }

    void kill()
    {
        process_.kill();
        process_.waitForFinished();
    }

    // Ends a racing writer; true when it ended without a failure.
    bool finish()
    {
        process_.closeWriteChannel();
        return process_.waitForFinished() && process_.exitStatus() == QProcess::NormalExit &&
               process_.exitCode() == 0;
    }

    // Why a wait or an end failed, for the test's message.
    QString failure()
    {
        return QStringLiteral("the writer reported no whole write in time or failed; it said: ") +
               QString::fromLocal8Bit(process_.readAllStandardError());
    }

private:
    QProcess process_;
    int writesReported_ = 0;
};

inline QByteArray bytesOf(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The "options" section of a settings file, a "key=text" line for each key,
// as a reader that has never seen the file finds it; or a note that the file
// is missing or does not parse.
inline QString storedSettings(const QString &fileName)
{
    // Read through a copy: Qt caches a settings file by its name within a
    // process, and the cached copy might hide what is on disk now.
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath(QStringLiteral("copy.ini"));
    if (!QFile::copy(fileName, copy))
        return QStringLiteral("no file");
    QSettings settings(copy, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("options"));
    QStringList lines;
    for (const QString &key : settings.childKeys())
        lines.append(key + u'=' + settings.value(key).toString());
    if (settings.status() != QSettings::NoError)
        return QStringLiteral("a file that does not parse");
    return lines.join(u'\n');
}

// What storedSettings() gives for the file of one whole save of the set.
inline QString wholeSettings(const SettingsSnapshot &settings)
{
    const QMap<QString, QString> keys = settings.storedKeys();
    QStringList lines;
    for (auto key = keys.cbegin(); key != keys.cend(); ++key)
        lines.append(key.key() + u'=' + key.value());
    return lines.join(u'\n');
}
