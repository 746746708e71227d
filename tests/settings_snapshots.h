#pragma once

// Whole sets of settings as the window holds them, and the keys a save of
// each leaves in the store's "options" section.

#include "app/frmmain.h"
#include "platform/store/SettingsStore.h"

#include <QtWidgets>

struct SettingsSnapshot {
    QStringList hosts;
    bool random = false;
    bool ftp = false;
    QString proxy = {}; // empty: the proxy is off
    int interval = 1;

    bool operator==(const SettingsSnapshot &) const = default;

    static SettingsSnapshot of(const frmmain &w)
    {
        QStringList shown;
        for (int row = 0; row < w.List1->count(); ++row)
            shown.append(w.List1->item(row)->text());
        return {shown, w.random1->isChecked(), w.ftp->isChecked(), w.Text1->text(),
                w.Slider1->value()};
    }

    void applyTo(frmmain &w) const
    {
        w.List1->clear();
        w.List1->addItems(hosts);
        w.random1->setChecked(random);
        (ftp ? w.ftp : w.http)->setChecked(true);
        // Unticking the box empties the address, so the box comes first.
        w.Check1->setChecked(!proxy.isEmpty());
        w.Text1->setText(proxy);
        w.Slider1->setValue(interval);
    }

    QMap<QString, QString> storedKeys() const
    {
        QMap<QString, QString> keys{{QStringLiteral("interval"), QString::number(interval)}};
        for (int row = 0; row < hosts.size(); ++row)
            keys.insert(QStringLiteral("host%1").arg(row), hosts[row]);
        if (random)
            keys.insert(QStringLiteral("random"), QStringLiteral("1"));
        if (ftp)
            keys.insert(QStringLiteral("method"), QStringLiteral("1"));
        if (!proxy.isEmpty())
            keys.insert({{QStringLiteral("proxy"), QStringLiteral("1")},
                         {QStringLiteral("address"), proxy}});
        return keys;
    }
};

// Five university web sites, then three company web sites.
inline QStringList defaultHosts()
{
    return QStringLiteral("www.mit.edu www.stanford.edu www.berkeley.edu www.harvard.edu "
                          "www.ox.ac.uk www.ibm.com www.microsoft.com www.apple.com")
        .split(u' ');
}

// Two long sets that differ in every key, each with keys the other lacks.
inline SettingsSnapshot oneOfTwo(bool first)
{
    QStringList hosts;
    for (int row = 0; row < (first ? 1500 : 900); ++row)
        hosts.append(
            (first ? QStringLiteral("first-%1.example") : QStringLiteral(" 2nd, %1; ü ")).arg(row));
    return first ? SettingsSnapshot{hosts, true, true, QString(), 7}
                 : SettingsSnapshot{hosts, false, false, QStringLiteral("proxy.example:8080"), 23};
}

// The "options" section as a new reader finds it; nothing when the file is
// missing or does not parse. Read through a copy: Qt caches a file by name.
inline QMap<QString, QString> storedOptions(const QString &fileName)
{
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath(QStringLiteral("copy.ini"));
    const bool copied = QFile::copy(fileName, copy);
    QSettings settings(copy, QSettings::IniFormat);
    QMap<QString, QString> keys;
    settings.beginGroup(QStringLiteral("options"));
    for (const QString &key : settings.childKeys())
        keys.insert(key, settings.value(key).toString());
    return copied && settings.status() == QSettings::NoError ? keys : QMap<QString, QString>();
}
