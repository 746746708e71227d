// Saving and loading the user's choices. The window's controls are the live
// settings: saving takes a snapshot of them, loading puts one back.

#include "app/frmmain.h"
#include "platform/Dialogs.h"
#include "platform/store/SettingsStore.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSlider>
#include <algorithm>
#include <cmath>

namespace
{

const QString on = QStringLiteral("1");

QString hostKey(int row)
{
    return QStringLiteral("host") + QString::number(row);
}

// All of Quorrel's keys live in one section of its store.
class OptionsSection
{
public:
    explicit OptionsSection(SettingsStore &store) : store_(store) {}

    std::optional<QString> read(const QString &key) const
    {
        return store_.read(application(), section(), key);
    }
    bool isOn(const QString &key) const { return read(key) == on; }

    void write(const QString &key, const QString &text)
    {
        store_.write(application(), section(), key, text);
    }
    void clear() { store_.deleteSection(application(), section()); }
    [[nodiscard]] std::optional<Failure> commit() { return store_.commit(); }

private:
    static QString application() { return QStringLiteral("Quorrel"); }
    static QString section() { return QStringLiteral("options"); }

    SettingsStore &store_;
};

// The program stores only whole minutes from 1 to 30, but the file may have
// been edited: a number is rounded and brought into range, other text is no
// interval at all.
std::optional<int> intervalFrom(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    bool isNumber = false;
    const double minutes = text->toDouble(&isNumber);
    if (!isNumber || !std::isfinite(minutes))
        return std::nullopt;
    return static_cast<int>(std::clamp(std::round(minutes), 1.0, 30.0));
}

// In a group of its own, which a save leaves as it is: the count is the
// user's to write into the file. Text that is no count leaves the default.
int failuresBeforeNotice(const SettingsStore &store)
{
    constexpr int byDefault = 3;
    const std::optional<QString> text =
        store.read(QStringLiteral("Quorrel"), QStringLiteral("notifications"),
                   QStringLiteral("failuresBeforeNotice"));
    if (!text)
        return byDefault;
    bool isNumber = false;
    const int count = text->toInt(&isNumber);
    return isNumber && count >= 0 ? count : byDefault;
}

} // namespace

std::optional<Failure> frmmain::save()
{
    OptionsSection options(*services_.settings);
    options.clear();
    const int rows = List1->count();
    for (int row = 0; row < rows; ++row) {
        List1->setCurrentRow(row);
        options.write(hostKey(row), List1->currentItem()->text());
    }
    if (random1->isChecked())
        options.write(QStringLiteral("random"), on);
    if (ftp->isChecked())
        options.write(QStringLiteral("method"), on);
    if (Check1->isChecked() && !Text1->text().isEmpty()) {
        options.write(QStringLiteral("proxy"), on);
        options.write(QStringLiteral("address"), Text1->text());
    }
    options.write(QStringLiteral("interval"), QString::number(Slider1->value()));
    return options.commit();
}

void frmmain::savesettings()
{
    if (const std::optional<Failure> failure = save()) {
        warnSaveFailed(*failure);
        return;
    }
    services_.dialogs->MsgBox(tr("Your settings have been saved."), Dialogs::Information,
                              tr("Quorrel Settings"));
}

void frmmain::warnSaveFailed(const Failure &failure)
{
    services_.dialogs->MsgBox(tr("Your settings could not be saved.\n\n%1").arg(failure.reason),
                              Dialogs::Exclamation, tr("Quorrel Settings"));
}

void frmmain::loadsettings()
{
    const OptionsSection options(*services_.settings);

    // The list ends at the first missing key; every stored text is a host.
    for (int row = 0;; ++row) {
        const std::optional<QString> host = options.read(hostKey(row));
        if (!host)
            break;
        appendHost(*host);
    }
    if (List1->count() == 0)
        appendDefaultHosts();

    random1->setChecked(options.isOn(QStringLiteral("random")));
    (options.isOn(QStringLiteral("method")) ? ftp : http)->setChecked(true);

    watchLine(failuresBeforeNotice(*services_.settings));

    if (const std::optional<int> minutes = intervalFrom(options.read(QStringLiteral("interval"))))
        Slider1->setValue(*minutes);

    if (options.isOn(QStringLiteral("proxy"))) {
        // Checking the box runs its click, which enables the address box.
        Check1->setChecked(true);
        Text1->setText(options.read(QStringLiteral("address")).value_or(QString()));
    } else {
        Check1->setChecked(false);
        Text1->clear();
    }
}

void frmmain::Command10_Click()
{
    savesettings();
}

void frmmain::Command8_Click()
{
    savesettings();
}
