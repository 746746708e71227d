// The TCP/IP optimizer page: the current values as the system holds them, the
// recommended values for a modem speed, and "&Optimize", which sets them.

#include "app/frmmain.h"
#include "optimizer/modRegistrySystem.h"
#include "platform/Dialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <array>

namespace
{

// Every value lives under this hive and is read and written as text.
const QString hive = QStringLiteral("HKLM");
const QString asText = QStringLiteral("S");

using modRegistry::mstcpKey;
using modRegistry::netKey;
using modRegistry::netTransKey;

// The same for every speed; only the receive window differs.
const QString recommendedMtu = QStringLiteral("576");
const QString recommendedMss = QStringLiteral("536");
const QString recommendedTtl = QStringLiteral("128");

struct ModemProfile {
    const char *speed;
    QLatin1StringView receiveWindow;
};

constexpr std::array<ModemProfile, 3> profiles{{
    {QT_TRANSLATE_NOOP("frmmain", "28.8 Kbps"), QLatin1StringView("2144")},
    {QT_TRANSLATE_NOOP("frmmain", "33.6 Kbps"), QLatin1StringView("3216")},
    {QT_TRANSLATE_NOOP("frmmain", "56.6 Kbps"), QLatin1StringView("4388")},
}};

// The value as text, or `notSet` when it could not be read; the status is not
// needed, as a failed read leaves the default.
QString readTcpValue(modRegistry::Places &places, const QString &keyPath, const QString &name,
                     const QString &notSet)
{
    modRegistry::Datum result;
    places.ReadValue(hive, keyPath, name, asText, notSet, result);
    return modRegistry::toText(result);
}

struct TcpValues {
    QString mtu;
    QString mss;
    QString receiveWindow;
    QString ttl;
};

// Writes all five values in their order, each even when an earlier one failed;
// the ones bound to the system reach it together. Gives the first failure.
[[nodiscard]] std::optional<Failure> writeTcpValues(modRegistry::Places &places,
                                                    const TcpValues &values)
{
    const struct {
        const QString &keyPath;
        QLatin1StringView name;
        const QString &value;
    } writes[] = {
        {netTransKey, QLatin1StringView("MaxMTU"), values.mtu},
        {netKey, QLatin1StringView("IPMTU"), values.mtu},
        {netTransKey, QLatin1StringView("MaxMSS"), values.mss},
        {mstcpKey, QLatin1StringView("DefaultRcvWindow"), values.receiveWindow},
        {mstcpKey, QLatin1StringView("DefaultTTL"), values.ttl},
    };
    std::int32_t firstFailure = modRegistry::Done;
    for (const auto &write : writes) {
        const std::int32_t status =
            places.WriteValue(hive, write.keyPath, write.name, asText, write.value);
        if (firstFailure == modRegistry::Done)
            firstFailure = status;
    }
    const std::optional<Failure> refusal = places.commit();
    if (refusal || firstFailure == modRegistry::Done)
        return refusal;
    return Failure{Registry::describe(firstFailure)};
}

} // namespace

void frmmain::readCurrentTcpValues()
{
    modRegistry::Places places(*services_.registry, *services_.tcpip);
    const auto read = [&](const QString &keyPath, const QString &name) {
        return readTcpValue(places, keyPath, name, tr("Not Set"));
    };
    CMTU->setText(read(netTransKey, QStringLiteral("MaxMTU")));
    CMSS->setText(read(netTransKey, QStringLiteral("MaxMSS")));
    CRWIN->setText(read(mstcpKey, QStringLiteral("DefaultRcvWindow")));
    CTTL->setText(read(mstcpKey, QStringLiteral("DefaultTTL")));
}

void frmmain::readCurrentTcpValuesOrAdapterMtu()
{
    readCurrentTcpValues();
    // Some systems keep the MTU only with the network adapter.
    const QString notSet = tr("Not Set");
    modRegistry::Places places(*services_.registry, *services_.tcpip);
    if (CMTU->text() == notSet)
        CMTU->setText(readTcpValue(places, netKey, QStringLiteral("IPMTU"), notSet));
}

void frmmain::Combo1_Click()
{
    const QString speed = Combo1->currentText();
    const auto profile = std::find_if(profiles.begin(), profiles.end(),
                                      [&](const ModemProfile &p) { return tr(p.speed) == speed; });
    if (profile == profiles.end())
        return;
    RWIN->setText(profile->receiveWindow);
    mtu->setText(recommendedMtu);
    MSS->setText(recommendedMss);
    TTL->setText(recommendedTtl);
    readCurrentTcpValuesOrAdapterMtu();
}

void frmmain::Command12_Click()
{
    const QString title = tr("Quorrel");
    if (mtu->text() == tr("select speed")) {
        services_.dialogs->MsgBox(tr("Please choose you appropriate modem speed first."),
                                  Dialogs::Information, title);
        return;
    }
    if (mtu->text() == CMTU->text() && MSS->text() == CMSS->text() && TTL->text() == CTTL->text() &&
        RWIN->text() == CRWIN->text()) {
        services_.dialogs->MsgBox(tr("You System is already optimzed."), Dialogs::Information,
                                  title);
        return;
    }

    modRegistry::Places places(*services_.registry, *services_.tcpip);
    // The window goes on while the system asks for a password: no second
    // Optimize meanwhile.
    Command12->setEnabled(false);
    const std::optional<Failure> failure =
        writeTcpValues(places, {mtu->text(), MSS->text(), RWIN->text(), TTL->text()});
    Command12->setEnabled(true);
    if (failure) {
        // Show what the system holds now.
        readCurrentTcpValuesOrAdapterMtu();
        services_.dialogs->MsgBox(
            tr("The recommended values could not be written: %1.").arg(failure->reason),
            Dialogs::Exclamation, title);
        return;
    }
    // Picking the speed again reads back what was written.
    Combo1_Click();
    services_.dialogs->MsgBox(
        tr("Your system has been optimized for the fastest Internet Connection possible."),
        Dialogs::Exclamation, title);
}
