#include "platform/store/SettingsStore.h"
#include "platform/store/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <limits>
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

// A name beside the file that no QSettings has read: QSettings keeps what it
// read of each file in a cache of the process, which a reused name could hit
// (QConfFile::fromName in Qt's qsettings.cpp).
QString unseenName(const QString &fileName)
{
    return fileName + QStringLiteral(".new-") +
           QString::number(QRandomGenerator::global()->generate64(), 36);
}

// Left by a Quorrel that died in the middle of a save.
void removeDrafts(const QString &fileName)
{
    const QFileInfo file(fileName);
    QDir folder = file.absoluteDir();
    for (const QString &draft :
         folder.entryList({file.fileName() + QStringLiteral(".new-*")}, QDir::Files | QDir::Hidden))
        static_cast<void>(folder.remove(draft)); // one that stays is never read
}

QVariantMap contentsOf(const QSettings &settings)
{
    QVariantMap contents;
    for (const QString &key : settings.allKeys())
        contents.insert(key, settings.value(key));
    return contents;
}

// Whether the file holds all of `meant`. QSettings ends every line it writes
// with a line break, so a file cut short at a line's end lacks a key, a
// section, or its last line break.
bool holdsWhole(const QString &fileName, const QByteArray &bytes, const QVariantMap &meant)
{
    const bool ended = bytes.isEmpty() || bytes.endsWith('\n');
    return ended && contentsOf(QSettings(fileName, QSettings::IniFormat)) == meant;
}

} // namespace

StorePlace QtSettingsStore::userConfigFolder()
{
    return StoreFile::userFolder("XDG_CONFIG_HOME", QLatin1StringView(".config"));
}

QtSettingsStore::QtSettingsStore(QString configDirectory)
    : configFolder_{std::move(configDirectory), {}}
{
}

QtSettingsStore::QtSettingsStore(StorePlace configFolder) : configFolder_(std::move(configFolder))
{
}

QtSettingsStore::~QtSettingsStore() = default;

QString QtSettingsStore::fileName(const QString &application) const
{
    return configFolder_.path + u'/' + application + u'/' + application + QStringLiteral(".ini");
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

// After a commit the reader reads the file again. A file that cannot be
// settings gets no reader: it reads as empty, and no commit replaces it.
const QSettings *QtSettingsStore::reader(const QString &application) const
{
    auto found = readers_.find(application);
    if (found == readers_.end()) {
        const QString file = fileName(application);
        std::unique_ptr<QSettings> settings;
        if (configFolder_.refusal.isEmpty() && !whyUnusable(file))
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

std::optional<Failure> QtSettingsStore::commit()
{
    const QMap<QString, QList<Change>> changes = std::exchange(staged_, {});
    std::optional<Failure> firstFailure;
    for (auto file = changes.cbegin(); file != changes.cend(); ++file) {
        const std::optional<Failure> failure = commitFile(file.key(), file.value());
        if (!firstFailure)
            firstFailure = failure;
    }
    return firstFailure;
}

std::optional<Failure> QtSettingsStore::commitFile(const QString &application,
                                                   const QList<Change> &changes)
{
    if (!configFolder_.refusal.isEmpty())
        return Failure{configFolder_.refusal};
    const QString file = fileName(application);
    // What cannot be read as settings may be something the user wants back.
    if (std::optional<Failure> why = whyUnusable(file))
        return why;
    // QSettings merges the changes into what the file held when they were
    // made (QSettings::sync() reloads what others changed meanwhile), so a
    // section removed here would keep the keys that another Quorrel saved in
    // between. This lock, held from before the read to after the write, keeps
    // every other Quorrel's save out.
    if (!StoreFile::makeFolder(QFileInfo(file).absolutePath()))
        return whyNotWritten(file);
    const StoreLock lock(file + QStringLiteral(".save"));
    if (lock.state() == StoreLock::State::Busy)
        return Failure{tr("Another Quorrel is saving its settings in %1. Try again in a moment.")
                           .arg(shown(file))};
    if (lock.state() == StoreLock::State::NotAFile)
        return Failure{tr("Something that is not a file is where the lock file %1 belongs. "
                          "Move or delete it to save your settings.")
                           .arg(shown(file + QStringLiteral(".save.lock")))};
    if (lock.state() == StoreLock::State::Failed)
        return whyNotWritten(file);
    // So a lock file of QSettings' own was left by a Quorrel that died while
    // reading, which QSettings would wait for until it is half a minute old
    // (QLockFile::staleLockTime() is 30 seconds by default).
    QFile::remove(file + QStringLiteral(".lock"));
    removeDrafts(file);
    const std::optional<QByteArray> contents = withChanges(file, changes);
    if (!contents)
        return whyNotWritten(file);
    // A larger file would come back as the defaults at the next start.
    if (contents->size() > maxFileBytes)
        return Failure{tr("Your settings are too large to be stored: the settings file may hold at "
                          "most %1 MiB. Remove or shorten some hosts, then save again.")
                           .arg(maxFileBytes / (1024 * 1024))};
    if (!StoreFile::replace(file, *contents))
        return whyNotWritten(file);
    if (const auto reader = readers_.find(application); reader != readers_.end() && reader->second)
        reader->second->sync();
    return std::nullopt;
}

std::optional<QByteArray> QtSettingsStore::withChanges(const QString &fileName,
                                                       const QList<Change> &changes)
{
    const StoreFile current = StoreFile::read(fileName, maxFileBytes);
    const QString draft = unseenName(fileName);
    const QString check = unseenName(fileName);
    if (!StoreFile::writeDraft(draft, current.contents))
        return std::nullopt;
    QVariantMap meant;
    {
        QSettings settings(draft, QSettings::IniFormat);
        for (const Change &change : changes)
            change(settings);
        meant = contentsOf(settings);
        // Its result tells nothing: a write cut short by a full disk may pass
        // unnoticed, and a hand-edited line it could not read is an error even
        // when the new file was written. The read back tells.
        settings.sync();
    }
    // Read back under a name that QSettings has no copy of in its cache.
    std::optional<QByteArray> contents;
    if (QFile::rename(draft, check)) {
        StoreFile written = StoreFile::read(check, std::numeric_limits<qint64>::max());
        if (written.found == StoreFile::Found::Read && holdsWhole(check, written.contents, meant))
            contents = std::move(written.contents);
    }
    QFile::remove(draft);
    QFile::remove(check);
    return contents;
}

std::optional<Failure> QtSettingsStore::whyUnusable(const QString &fileName)
{
    const StoreFile file = StoreFile::read(fileName, maxFileBytes);
    switch (file.found) {
    case StoreFile::Found::Missing:
        return std::nullopt;
    case StoreFile::Found::Read:
        // No text holds a NUL byte. QSettings would read such a file as
        // scraps of settings and write them back as garbage.
        if (!file.contents.contains('\0'))
            return std::nullopt;
        return Failure{
            tr("The file %1 is not a settings file: it is not text. Move or delete it to "
               "save your settings.")
                .arg(shown(fileName))};
    case StoreFile::Found::TooLarge:
        return Failure{
            tr("The file %1 is too large to be a settings file. Move or delete it to save "
               "your settings.")
                .arg(shown(fileName))};
    case StoreFile::Found::Unreadable:
        break;
    }
    if (QFileInfo(fileName).isDir())
        return Failure{
            tr("There is a folder named %1 where the settings file belongs.").arg(shown(fileName))};
    return Failure{tr("The file %1 cannot be read. Move or delete it to save your settings.")
                       .arg(shown(fileName))};
}

// QSettings only says that it could not write; the path tells the user why.
Failure QtSettingsStore::whyNotWritten(const QString &fileName)
{
    const QFileInfo file(fileName);
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        return Failure{tr("The folder %1 does not exist and cannot be created.")
                           .arg(shown(folder.filePath()))};
    if (!folder.isWritable())
        return Failure{tr("The folder %1 is not writable.").arg(shown(folder.filePath()))};
    if (file.exists() && !file.isWritable())
        return Failure{tr("The file %1 is read-only.").arg(shown(fileName))};
    return Failure{
        tr("The file %1 could not be written. The disk may be full.").arg(shown(fileName))};
}
