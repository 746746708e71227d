#include "platform/tcpip/SystemValues.h"

#include <QFile>
#include <QList>
#include <array>

namespace
{

struct Description {
    tcpip::Value value;
    QLatin1StringView name;
    long long lowest;
    long long highest;
};

// The ranges the kernel and the protocols allow.
constexpr std::array<Description, 5> descriptions{{
    {tcpip::Value::Mtu, QLatin1StringView("mtu"), 68, 65535},
    {tcpip::Value::Mss, QLatin1StringView("mss"), 88, 65495},
    {tcpip::Value::Window, QLatin1StringView("window"), 1, 1073725440},
    {tcpip::Value::Ttl, QLatin1StringView("ttl"), 1, 255},
    {tcpip::Value::LinkMtu, QLatin1StringView("linkmtu"), 68, 65535},
}};

const Description &describe(tcpip::Value value)
{
    return descriptions[static_cast<std::size_t>(value)];
}

// The whole file, or nothing when it cannot be read; small files only.
QByteArray readSmallFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64 * 1024);
}

bool isPointToPoint(const QByteArray &link)
{
    return link.startsWith("ppp") || link.startsWith("wwan");
}

} // namespace

QLatin1StringView tcpip::nameOf(Value value)
{
    return describe(value).name;
}

std::optional<tcpip::Value> tcpip::valueNamed(QStringView name)
{
    for (const Description &description : descriptions) {
        if (name == description.name)
            return description.value;
    }
    return std::nullopt;
}

std::optional<long long> tcpip::checked(Value value, QStringView text)
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

tcpip::Values tcpip::parseConfiguration(const QByteArray &text)
{
    Values values;
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        const std::optional<Value> value = valueNamed(QString::fromLatin1(line.left(equals)));
        if (equals < 0 || !value || *value == Value::LinkMtu)
            continue;
        if (const std::optional<long long> number =
                checked(*value, QString::fromLatin1(line.mid(equals + 1))))
            values[*value] = *number;
    }
    return values;
}

QByteArray tcpip::formatConfiguration(const Values &values)
{
    QByteArray text = "# Quorrel's TCP/IP values, written by quorrel-tcpip.\n";
    for (const auto &[value, number] : values)
        text += nameOf(value).toString().toLatin1() + '=' + QByteArray::number(number) + '\n';
    return text;
}

tcpip::Values tcpip::readConfiguration()
{
    return parseConfiguration(readSmallFile(QString::fromLatin1(configurationFile)));
}

QString tcpip::defaultLink()
{
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the first line
    // names them. A default route has destination and mask 0 and is up (flag 1).
    QByteArray found;
    const QList<QByteArray> lines = readSmallFile(QStringLiteral("/proc/net/route")).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        if (fields.size() < 8 || fields[1] != "00000000" || fields[7] != "00000000" ||
            (fields[3].toUInt(nullptr, 16) & 1) == 0)
            continue;
        if (found.isEmpty() || (isPointToPoint(fields[0]) && !isPointToPoint(found)))
            found = fields[0];
    }
    return QString::fromLatin1(found);
}

std::optional<long long> tcpip::linkMtu(const QString &link)
{
    if (link.isEmpty() || link.contains(u'/'))
        return std::nullopt;
    bool ok = false;
    const long long mtu =
        readSmallFile(QStringLiteral("/sys/class/net/%1/mtu").arg(link)).trimmed().toLongLong(&ok);
    return ok ? std::optional(mtu) : std::nullopt;
}
