#include "platform/SettingsStore.h"

#include <QDir>
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
    const QVariant value = reader(application).value(path(section, key));
    if (!value.isValid())
        return std::nullopt;
    // QSettings quotes the commas of the texts it writes; only a hand-edited
    // line with bare commas reads as a list, which is joined back into one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

// A reader shares QSettings' in-process copy of the file with the writer of
// commitFile(), so it sees every commit.
QSettings &QtSettingsStore::reader(const QString &application) const
{
    std::unique_ptr<QSettings> &settings = readers_[application];
    if (!settings)
        settings = std::make_unique<QSettings>(fileName(application), QSettings::IniFormat);
    return *settings;
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
    QSettings::Status status = QSettings::NoError;
    {
        // The changes are applied in memory and reach the disk in this one sync,
        // which writes a new file and renames it over the old one.
        QSettings settings(file, QSettings::IniFormat);
        for (const Change &change : changes)
            change(settings);
        settings.sync();
        status = settings.status();
    }
    // QSettings keeps the first error it meets, and a damaged old file is one even
    // when the new file was written. A second look tells: Qt keeps the file cached
    // with any change not yet written, and tries that change again.
    if (status == QSettings::FormatError)
        status = QSettings(file, QSettings::IniFormat).status();
    if (status == QSettings::NoError)
        return std::nullopt;
    return whyNotWritten(file);
}

// QSettings only says that it could not write; the path tells the user why.
QString QtSettingsStore::whyNotWritten(const QString &fileName)
{
    const QFileInfo file(fileName);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir())
        return tr("There is a folder named %1 where the settings file belongs.")
            .arg(shown(fileName));
    if (!folder.isDir())
        return tr("The folder %1 does not exist and cannot be created.")
            .arg(shown(folder.filePath()));
    if (!folder.isWritable())
        return tr("The folder %1 is not writable.").arg(shown(folder.filePath()));
    if (file.exists() && !file.isWritable())
        return tr("The file %1 is read-only.").arg(shown(fileName));
    return tr("The file %1 could not be written. The disk may be full.").arg(shown(fileName));
}
