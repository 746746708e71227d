#include "platform/tcpip/SystemValues.h"

#include <QFile>
#include <QList>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

struct Description {
    tcpip::Setting value;
    QLatin1StringView name;
    long long lowest;
    long long highest;
};

// The ranges the kernel and the protocols allow.
constexpr std::array<Description, 5> descriptions{{
    {tcpip::Setting::Mtu, QLatin1StringView("mtu"), 68, 65535},
    {tcpip::Setting::Mss, QLatin1StringView("mss"), 88, 65495},
    {tcpip::Setting::Window, QLatin1StringView("window"), 1, 1073725440},
    {tcpip::Setting::Ttl, QLatin1StringView("ttl"), 1, 255},
    {tcpip::Setting::LinkMtu, QLatin1StringView("linkmtu"), 68, 65535},
}};

const Description &describe(tcpip::Setting value)
{
    return descriptions[static_cast<std::size_t>(value)];
}

// The file's bytes; empty when there is no such file, nothing when it is not
// a regular file, is larger than `maxBytes` or cannot be read. A link is not
// followed and a pipe is never waited on, so no one can make a reader hang or
// read a file that it was not meant to.
std::optional<QByteArray> readPlainFile(const char *fileName, qsizetype maxBytes)
{
    const int descriptor = open(fileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return errno == ENOENT ? std::optional(QByteArray()) : std::nullopt;
    struct stat status {
    };
    bool readable = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    // Files in /proc and /sys tell no size: read until the end.
    QByteArray bytes;
    char chunk[16 * 1024];
    while (readable && bytes.size() <= maxBytes) {
        const ssize_t got = read(descriptor, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        readable = got >= 0;
        if (got <= 0)
            break;
        bytes.append(chunk, got);
    }
    const bool closed = close(descriptor) == 0;
    if (!readable || !closed || bytes.size() > maxBytes)
        return std::nullopt;
    return bytes;
}

constexpr qsizetype smallFile = 64 * 1024;

QByteArray readSystemFile(const QString &fileName, qsizetype maxBytes = smallFile)
{
    return readPlainFile(QFile::encodeName(fileName).constData(), maxBytes).value_or(QByteArray());
}

bool isPointToPoint(const QString &link)
{
    return link.startsWith(u"ppp") || link.startsWith(u"wwan");
}

} // namespace

QLatin1StringView tcpip::nameOf(Setting value)
{
    return describe(value).name;
}

std::optional<tcpip::Setting> tcpip::settingNamed(QStringView name)
{
    for (const Description &description : descriptions) {
        if (name == description.name)
            return description.value;
    }
    return std::nullopt;
}

std::optional<long long> tcpip::checked(Setting value, QStringView text)
{
    // Ten digits hold every value allowed; signs, blanks and other bases are refused.
    if (text.isEmpty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    const long long number = text.toLongLong();
    const Description &description = describe(value);
    if (number < description.lowest || number > description.highest)
        return std::nullopt;
    return number;
}

tcpip::Configuration tcpip::parseConfiguration(const QByteArray &text)
{
    Configuration configuration;
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QString name = QString::fromLatin1(line.left(equals));
        const QString number = QString::fromLatin1(line.mid(equals + 1));
        if (name == u"link" && isLinkName(number)) {
            configuration.link = number;
            continue;
        }
        const bool before = name.startsWith(u"before.");
        const std::optional<Setting> value = settingNamed(before ? name.mid(7) : name);
        if (!value || *value == Setting::LinkMtu)
            continue;
        if (const std::optional<long long> checkedNumber = checked(*value, number))
            (before ? configuration.before : configuration.values)[*value] = *checkedNumber;
    }
    return configuration;
}

QByteArray tcpip::formatConfiguration(const Configuration &configuration)
{
    const auto lines = [](const Settings &values, const QByteArray &prefix) {
        QByteArray text;
        for (const auto &[value, number] : values)
            text += prefix + nameOf(value).toString().toLatin1() + '=' +
                    QByteArray::number(number) + '\n';
        return text;
    };
    return "# Quorrel's TCP/IP values, written by quorrel-tcpip, and the link they are for.\n"
           "link=" +
           configuration.link.toLatin1() + '\n' + lines(configuration.values, {}) +
           "# What the link and the system held before Quorrel changed them.\n" +
           lines(configuration.before, "before.");
}

std::optional<QByteArray> tcpip::readConfigurationFile()
{
    return readPlainFile(configurationFile, smallFile);
}

tcpip::Settings tcpip::readConfiguration()
{
    return parseConfiguration(readConfigurationFile().value_or(QByteArray())).values;
}

bool tcpip::isLinkName(QStringView name)
{
    return !name.isEmpty() && name.size() <= 15 && name != u"." && name != u".." &&
           std::all_of(name.begin(), name.end(), [](QChar c) {
               return c > u' ' && c < QChar(0x7f) && c != u'/' && c != u':';
           });
}

QStringList tcpip::linksWithDefaultRoute()
{
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the first line
    // names them. A default route has destination and mask 0 and is up (flag 1).
    QStringList links;
    const QList<QByteArray> lines =
        readSystemFile(QStringLiteral("/proc/net/route"), 16 * 1024 * 1024).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        if (fields.size() >= 8 && fields[1] == "00000000" && fields[7] == "00000000" &&
            (fields[3].toUInt(nullptr, 16) & 1) != 0)
            links.append(QString::fromLatin1(fields[0]));
    }
    return links;
}

QString tcpip::defaultLink()
{
    const QStringList links = linksWithDefaultRoute();
    const auto pointToPoint = std::find_if(links.begin(), links.end(), isPointToPoint);
    return pointToPoint != links.end() ? *pointToPoint : links.value(0);
}

std::optional<long long> tcpip::linkMtu(const QString &link)
{
    if (!isLinkName(link))
        return std::nullopt;
    bool ok = false;
    const long long mtu =
        readSystemFile(QStringLiteral("/sys/class/net/%1/mtu").arg(link)).trimmed().toLongLong(&ok);
    return ok ? std::optional(mtu) : std::nullopt;
}
