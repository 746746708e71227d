#include "platform/SettingsStore.h"
#include "platform/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <utility>

namespace
{

QString path(const QString &section, const QString &key)
{
    return section + u'/' + key;
}

QString shown(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

// Quorrel's settings take a few kilobytes, 2,000 hosts some 60 KiB. QSettings
// reads a file whole, and holds it twice over while it parses it: a file far
// larger than any that Quorrel writes is not read at all.
constexpr qint64 maxFileBytes = 8 * 1024 * 1024;

} // namespace

QString QtSettingsStore::userConfigDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QtSettingsStore::QtSettingsStore(QString configDirectory)
    : configDirectory_(std::move(configDirectory))
{
}

QtSettingsStore::~QtSettingsStore() = default;

QString QtSettingsStore::fileName(const QString &application) const
{
    return configDirectory_ + u'/' + application + u'/' + application + QStringLiteral(".ini");
}

std::optional<QString> QtSettingsStore::read(const QString &application, const QString &section,
                                             const QString &key) const
{
    const QSettings *settings = reader(application);
    if (!settings)
        return std::nullopt;
    const QVariant value = settings->value(path(section, key));
    if (!value.isValid())
        return std::nullopt;
    // QSettings quotes the commas of the texts it writes; only a hand-edited
    // line with bare commas reads as a list, which is joined back into one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

// A reader shares QSettings' in-process copy of the file with the writer of
// commitFile(), so it sees every commit. A file that cannot be settings gets
// no reader: it reads as empty, and no commit replaces it.
const QSettings *QtSettingsStore::reader(const QString &application) const
{
    auto found = readers_.find(application);
    if (found == readers_.end()) {
        const QString file = fileName(application);
        std::unique_ptr<QSettings> settings;
        if (!whyUnusable(file))
            settings = std::make_unique<QSettings>(file, QSettings::IniFormat);
        found = readers_.emplace(application, std::move(settings)).first;
    }
    return found->second.get();
}

void QtSettingsStore::write(const QString &application, const QString &section, const QString &key,
                            const QString &text)
{
    stage(application,
          [key = path(section, key), text](QSettings &settings) { settings.setValue(key, text); });
}

void QtSettingsStore::deleteSection(const QString &application, const QString &section)
{
    stage(application, [section](QSettings &settings) { settings.remove(section); });
}

void QtSettingsStore::stage(const QString &application, Change change)
{
    staged_[application].append(std::move(change));
}

std::optional<QString> QtSettingsStore::commit()
{
    const QMap<QString, QList<Change>> changes = std::exchange(staged_, {});
    std::optional<QString> firstFailure;
    for (auto file = changes.cbegin(); file != changes.cend(); ++file) {
        const std::optional<QString> failure = commitFile(file.key(), file.value());
        if (!firstFailure)
            firstFailure = failure;
    }
    return firstFailure;
}

std::optional<QString> QtSettingsStore::commitFile(const QString &application,
                                                   const QList<Change> &changes) const
{
    const QString file = fileName(application);
    // What cannot be read as settings may be something the user wants back.
    if (std::optional<QString> why = whyUnusable(file))
        return why;
    // QSettings reads the file when it is opened and merges the changes into
    // what is on disk when it syncs, so a section removed here would keep the
    // keys that another Quorrel saved in between. This lock, held from before
    // the read to after the write, keeps every other Quorrel's save out.
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return whyNotWritten(file);
    const StoreLock lock(file + QStringLiteral(".save"));
    if (lock.state() == StoreLock::State::Busy)
        return tr("Another Quorrel is saving its settings in %1. Try again in a moment.")
            .arg(shown(file));
    if (lock.state() == StoreLock::State::Failed)
        return whyNotWritten(file);
    // So a lock file of QSettings' own was left by a Quorrel that died in a
    // save, which QSettings would wait for until it is half a minute old.
    QFile::remove(file + QStringLiteral(".lock"));
    if (!fitsTheReadLimit(file, changes))
        return tr("Your settings are too large to be stored: the settings file may hold at "
                  "most %1 MiB. Remove or shorten some hosts, then save again.")
            .arg(maxFileBytes / (1024 * 1024));
    if (!syncChanges(file, changes))
        return whyNotWritten(file);
    return std::nullopt;
}

// A file larger than the store reads would come back as the defaults at the
// next start: the changes are written to a trial file first and measured.
bool QtSettingsStore::fitsTheReadLimit(const QString &fileName, const QList<Change> &changes)
{
    const QString trial = fileName + QStringLiteral(".size-check");
    qint64 size = 0;
    {
        // Left over, with QSettings' lock file, by a Quorrel that died here.
        QFile::remove(trial);
        QFile::remove(trial + QStringLiteral(".lock"));
        QSettings settings(trial, QSettings::IniFormat);
        for (const Change &change : changes)
            change(settings);
        settings.sync();
        size = QFileInfo(trial).size();
    }
    // A trial file that cannot be removed is harmless: nothing reads it, and
    // the next save starts by removing it again.
    QFile::remove(trial);
    return size <= maxFileBytes;
}

bool QtSettingsStore::syncChanges(const QString &fileName, const QList<Change> &changes)
{
    QSettings::Status status = QSettings::NoError;
    {
        // The changes are applied in memory and reach the disk in this one sync,
        // which writes a new file and renames it over the old one.
        QSettings settings(fileName, QSettings::IniFormat);
        for (const Change &change : changes)
            change(settings);
        settings.sync();
        status = settings.status();
    }
    // QSettings keeps the first error it meets, and a damaged old file is one even
    // when the new file was written. A second look tells: Qt keeps the file cached
    // with any change not yet written, and tries that change again.
    if (status == QSettings::FormatError)
        status = QSettings(fileName, QSettings::IniFormat).status();
    return status == QSettings::NoError;
}

std::optional<QString> QtSettingsStore::whyUnusable(const QString &fileName)
{
    const StoreFile file = StoreFile::read(fileName, maxFileBytes);
    switch (file.state) {
    case StoreFile::State::Missing:
        return std::nullopt;
    case StoreFile::State::Read:
        // No text holds a NUL byte. QSettings would read such a file as
        // scraps of settings and write them back as garbage.
        if (!file.contents.contains('\0'))
            return std::nullopt;
        return tr("The file %1 is not a settings file: it is not text. Move or delete it to "
                  "save your settings.")
            .arg(shown(fileName));
    case StoreFile::State::TooLarge:
        return tr("The file %1 is too large to be a settings file. Move or delete it to save "
                  "your settings.")
            .arg(shown(fileName));
    case StoreFile::State::Unreadable:
        break;
    }
    if (QFileInfo(fileName).isDir())
        return tr("There is a folder named %1 where the settings file belongs.")
            .arg(shown(fileName));
    return tr("The file %1 cannot be read. Move or delete it to save your settings.")
        .arg(shown(fileName));
}

// QSettings only says that it could not write; the path tells the user why.
QString QtSettingsStore::whyNotWritten(const QString &fileName)
{
    const QFileInfo file(fileName);
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        return tr("The folder %1 does not exist and cannot be created.")
            .arg(shown(folder.filePath()));
    if (!folder.isWritable())
        return tr("The folder %1 is not writable.").arg(shown(folder.filePath()));
    if (file.exists() && !file.isWritable())
        return tr("The file %1 is read-only.").arg(shown(fileName));
    return tr("The file %1 could not be written. The disk may be full.").arg(shown(fileName));
}
