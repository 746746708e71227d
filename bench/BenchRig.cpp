#include "bench/BenchRig.h"

#include <QCoreApplication>
#include <QDir>
#include <QListWidget>

void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

ReopenableSettingsStore::ReopenableSettingsStore(const QString &configDirectory)
    : store_(std::make_unique<QtSettingsStore>(configDirectory))
{
}

void ReopenableSettingsStore::reopenAt(const QString &configDirectory)
{
    store_ = std::make_unique<QtSettingsStore>(configDirectory);
}

QString ReopenableSettingsStore::fileName() const
{
    return store_->fileName(QStringLiteral("Quorrel"));
}

std::optional<QString> ReopenableSettingsStore::read(const QString &application,
                                                     const QString &section,
                                                     const QString &key) const
{
    return store_->read(application, section, key);
}

void ReopenableSettingsStore::write(const QString &application, const QString &section,
                                    const QString &key, const QString &text)
{
    store_->write(application, section, key, text);
}

void ReopenableSettingsStore::deleteSection(const QString &application, const QString &section)
{
    store_->deleteSection(application, section);
}

std::optional<SaveError> ReopenableSettingsStore::commit()
{
    return store_->commit();
}

BenchRig::BenchRig()
    : settings_(freshFolder()), registry_(freshFolder() + QStringLiteral("/registry.reg"))
{
    window_ = std::make_unique<frmmain>(Services{
        .dialogs = &dialogs,
        .tray = &tray_,
        .shell = &shell_,
        .settings = &settings_,
        .inet = &inet_,
        .clock = &clock_,
        .random = &random_,
        .registry = &registry_,
        .tcpip = &tcpip_,
    });
}

BenchRig::~BenchRig() = default;

QString BenchRig::freshFolder()
{
    const QString folder = temp_.filePath(QString::number(++folders_));
    QDir().mkpath(folder);
    return folder;
}

void BenchRig::setHosts(const QStringList &hosts)
{
    window_->List1->clear();
    window_->List1->addItems(hosts);
}
