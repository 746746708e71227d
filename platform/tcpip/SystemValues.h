#pragma once

// The TCP/IP values that Quorrel sets on the running system, the files that keep
// them, and the link they belong to. Shared by the window's side and the helper.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>

namespace tcpip
{

enum class Setting {
    Mtu,     // configured, and the link's MTU
    Mss,     // configured, and the advertised MSS of the link's default route
    Window,  // configured, and the window of that route
    Ttl,     // configured, and net.ipv4.ip_default_ttl
    LinkMtu, // the link's MTU now, never configured
};

using Settings = std::map<Setting, long long>;

// The value's name in the configuration file and on the helper's command line.
QLatin1StringView nameOf(Setting value);
std::optional<Setting> settingNamed(QStringView name);

// The number, when `text` is one in decimal digits alone and in the value's range.
std::optional<long long> checked(Setting value, QStringView text);

// Quorrel's folder and configuration, and the drop-in that sets the TTL at
// boot. All are root's, readable by everyone.
inline constexpr char configurationFolder[] = "/etc/quorrel";
inline constexpr char configurationFile[] = "/etc/quorrel/tcpip.conf";
inline constexpr char ttlDropIn[] = "/etc/sysctl.d/60-quorrel.conf";

// The configuration: the link the values were set for, the values, and what
// that link and the system held before Quorrel first changed them (Mtu and Ttl,
// and Mss and Window where the link's route had them).
struct Configuration {
    QString link;
    Settings values;
    Settings before;
};

// "link=NAME", "name=number" and "before.name=number" lines; a line that is not
// a valid one is passed over.
Configuration parseConfiguration(const QByteArray &text);
QByteArray formatConfiguration(const Configuration &configuration);
// The configuration file's contents: empty when there is none, nothing when
// something else than a regular file is in its place or it cannot be read.
std::optional<QByteArray> readConfigurationFile();
// The configured values; none when the file is missing or unreadable.
Settings readConfiguration();

// Whether the text may name a network interface (netdevice(7)): at most 15
// bytes, no slash, colon or blank, not "." or "..".
bool isLinkName(QStringView name);

// How the helper ends, its exit status; pkexec ends with 126 and 127 of its own.
enum class HelperStatus {
    Done = 0,
    Refused = 2,    // an unknown command, value name, or a value out of range
    NoLink = 3,     // no interface carries a default route
    NotWritten = 4, // the configuration could not be written
    NotApplied = 5, // the running system refused a value
    Unsafe = 6,     // its folder or its limits make writing unsafe
    Busy = 7,       // another run of the helper did not end
};

// The interfaces that carry a default IPv4 route, as the kernel lists them.
QStringList linksWithDefaultRoute();
// The interface that carries the default IPv4 route, a point-to-point link
// (ppp*, wwan*) before any other; empty when there is none.
QString defaultLink();
// The link's MTU now, from sysfs.
std::optional<long long> linkMtu(const QString &link);

} // namespace tcpip
