#pragma once

// Whole sets of settings as the window holds them, and the keys a save of each
// must leave in the store's "options" section.

#include "app/frmmain.h"
#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QRadioButton>
#include <QSlider>
#include <QStringList>

struct SettingsSnapshot {
    QStringList hosts;
    bool random = false;
    bool ftp = false;
    QString proxy; // empty: the proxy is off
    int interval = 1;

    bool operator==(const SettingsSnapshot &) const = default;

    // The set that the window shows.
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
        // Clearing the box empties the address, so the box comes first.
        w.Check1->setChecked(!proxy.isEmpty());
        w.Text1->setText(proxy);
        w.Slider1->setValue(interval);
    }

    QMap<QString, QString> storedKeys() const
    {
        const QString on = QStringLiteral("1");
        QMap<QString, QString> keys;
        for (int row = 0; row < hosts.size(); ++row)
            keys.insert(QStringLiteral("host") + QString::number(row), hosts[row]);
        if (random)
            keys.insert(QStringLiteral("random"), on);
        if (ftp)
            keys.insert(QStringLiteral("method"), on);
        if (!proxy.isEmpty()) {
            keys.insert(QStringLiteral("proxy"), on);
            keys.insert(QStringLiteral("address"), proxy);
        }
        keys.insert(QStringLiteral("interval"), QString::number(interval));
        return keys;
    }

    // Saves the set straight into a store as the window's save does, without
    // a window: the section cleared, then every key, all in one commit.
    std::optional<QString> saveTo(SettingsStore &store) const
    {
        const QString application = QStringLiteral("Quorrel");
        const QString section = QStringLiteral("options");
        store.deleteSection(application, section);
        const QMap<QString, QString> keys = storedKeys();
        for (auto key = keys.cbegin(); key != keys.cend(); ++key)
            store.write(application, section, key.key(), key.value());
        return store.commit();
    }
};

inline QStringList numberedHosts(const QString &pattern, int count)
{
    QStringList hosts;
    for (int row = 0; row < count; ++row)
        hosts.append(pattern.arg(row));
    return hosts;
}

// Two sets that differ in every key, with lists long enough that a save takes
// a while, and each with keys that the other lacks: a save that kept any key
// of the other set would show. store_writer_child saves them.
inline SettingsSnapshot firstOfTwo()
{
    return {numberedHosts(QStringLiteral("first-%1.example"), 1500), true, true, QString(), 7};
}

inline SettingsSnapshot secondOfTwo()
{
    return {numberedHosts(QStringLiteral(" second, %1; ü "), 900), false, false,
            QStringLiteral("proxy.example:8080"), 23};
}
