// quorrel-tcpip: sets Quorrel's TCP/IP values on the running system and keeps
// them in its configuration, so that the link's hooks apply them again. Runs as
// root through pkexec, or wherever the process may change the network.
//
//   quorrel-tcpip set NAME=NUMBER...  checks every value, keeps them, applies them now
//   quorrel-tcpip apply               applies the kept values to the link now
//   quorrel-tcpip reset               forgets the values and restores the defaults

#include "platform/tcpip/SystemValues.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using tcpip::Value;
using tcpip::Values;

namespace
{

constexpr long long defaultMtu = 1500;
constexpr long long defaultTtl = 64;

void say(const QString &text)
{
    std::fprintf(stderr, "quorrel-tcpip: %s\n", qPrintable(text));
}

// The NAME=NUMBER arguments, each name once; nothing when any of them is wrong.
std::optional<Values> parseValues(const QStringList &arguments)
{
    Values values;
    for (const QString &argument : arguments) {
        const qsizetype equals = argument.indexOf(u'=');
        const std::optional<Value> value = tcpip::valueNamed(QStringView(argument).left(equals));
        const std::optional<long long> number =
            value ? tcpip::checked(*value, QStringView(argument).mid(equals + 1)) : std::nullopt;
        if (equals < 0 || !number || values.contains(*value)) {
            say(QStringLiteral("refused: %1").arg(argument));
            return std::nullopt;
        }
        values[*value] = *number;
    }
    return values;
}

// Replaces the file in one step: the bytes go to a new file beside it, which is
// synced and then renamed over it, so a crash leaves the old file or the new one.
bool replaceFile(const QString &fileName, const QByteArray &contents)
{
    const QString folder = QFileInfo(fileName).absolutePath();
    const QByteArray path = QFile::encodeName(fileName);
    const QByteArray temporary = path + ".new";
    if (!QDir().mkpath(folder))
        return false;
    const int file =
        ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (file < 0)
        return false;
    const bool written = ::fchmod(file, 0644) == 0 &&
                         ::write(file, contents.constData(), contents.size()) == contents.size() &&
                         ::fsync(file) == 0;
    if (::close(file) != 0 || !written || ::rename(temporary.constData(), path.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    // The rename itself is on the disk once the folder is synced.
    const int directory = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC);
    const bool synced = directory >= 0 && ::fsync(directory) == 0;
    return (directory < 0 || ::close(directory) == 0) && synced;
}

bool removeFile(const char *fileName)
{
    return ::unlink(fileName) == 0 || errno == ENOENT;
}

// Runs iproute2's `ip`, from the system's folders only; its standard output.
std::optional<QByteArray> ip(const QStringList &arguments)
{
    static const QString program = QStandardPaths::findExecutable(
        QStringLiteral("ip"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                               QStringLiteral("/sbin"), QStringLiteral("/bin")});
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        say(QStringLiteral("ip %1 failed").arg(arguments.join(u' ')));
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

bool setMtu(const QString &link, long long mtu)
{
    return ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("dev"), link,
               QStringLiteral("mtu"), QString::number(mtu)})
        .has_value();
}

// The link's default route as `ip` shows it, less the words that it only shows.
std::optional<QStringList> defaultRoute(const QString &link)
{
    const std::optional<QByteArray> shown =
        ip({QStringLiteral("-4"), QStringLiteral("-o"), QStringLiteral("route"),
            QStringLiteral("show"), QStringLiteral("default"), QStringLiteral("dev"), link});
    if (!shown || shown->trimmed().isEmpty() || shown->trimmed().contains('\n'))
        return std::nullopt;
    QStringList words = QString::fromLatin1(shown->simplified()).split(u' ');
    words.removeIf([](const QString &word) {
        return QStringList{u"linkdown"_s,   u"dead"_s,    u"offload"_s,           u"trap"_s,
                           u"rt_offload"_s, u"rt_trap"_s, u"rt_offload_failed"_s, u"pervasive"_s}
            .contains(word);
    });
    return words;
}

// The route with the values' advertised MSS and window in place of its own,
// and none where a value is missing.
QStringList withMetrics(const QStringList &route, const Values &values)
{
    QStringList changed;
    for (qsizetype i = 0; i < route.size(); ++i) {
        if (route[i] == u"advmss" || route[i] == u"window")
            ++i; // and its number
        else
            changed.append(route[i]);
    }
    for (const auto &[value, word] :
         {std::pair{Value::Mss, u"advmss"_s}, std::pair{Value::Window, u"window"_s}}) {
        if (values.contains(value))
            changed << word << QString::number(values.at(value));
    }
    return changed;
}

bool setRoute(const QString &link, const QStringList &route)
{
    return ip(QStringList{u"route"_s, u"change"_s, u"dev"_s, link} + route).has_value();
}

const QString ttlFile = u"/proc/sys/net/ipv4/ip_default_ttl"_s;

bool setTtl(long long ttl)
{
    QFile file(ttlFile);
    const QByteArray number = QByteArray::number(ttl);
    return file.open(QIODevice::WriteOnly) && file.write(number) == number.size() && file.flush();
}

// What the running system holds, to be put back when a change fails halfway.
struct Live {
    long long mtu;
    QStringList route;
    long long ttl;
};

std::optional<Live> readLive(const QString &link)
{
    QFile file(ttlFile);
    bool ok = false;
    const long long ttl =
        file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&ok) : 0;
    const std::optional<long long> mtu = tcpip::linkMtu(link);
    const std::optional<QStringList> route = defaultRoute(link);
    if (!ok || !mtu || !route)
        return std::nullopt;
    return Live{*mtu, *route, ttl};
}

// Every step is tried, so as much as possible is back.
bool restore(const QString &link, const Live &live)
{
    const bool mtu = setMtu(link, live.mtu);
    const bool route = setRoute(link, live.route);
    return setTtl(live.ttl) && mtu && route;
}

// Applies what the values hold to the link, its route and the system, the MTU
// to keep before the link's MTU of the moment; on a failure, puts back what
// was there before.
bool applyValues(const QString &link, const Values &values, const Live &before)
{
    bool applied = true;
    for (const Value mtu : {Value::Mtu, Value::LinkMtu}) {
        if (values.contains(mtu))
            applied = applied && setMtu(link, values.at(mtu));
    }
    if (values.contains(Value::Mss) || values.contains(Value::Window))
        applied = applied && setRoute(link, withMetrics(before.route, values));
    if (values.contains(Value::Ttl))
        applied = applied && setTtl(values.at(Value::Ttl));
    if (!applied && !restore(link, before))
        say(QStringLiteral("the link could not be restored"));
    return applied;
}

// Keeps the values in the configuration and the TTL in its boot setting; when
// the second write fails, the configuration gets back what it held.
bool keep(const Values &previous, const Values &kept)
{
    const QString configuration = QString::fromLatin1(tcpip::configurationFile);
    if (!replaceFile(configuration, tcpip::formatConfiguration(kept)))
        return false;
    if (!kept.contains(Value::Ttl) ||
        replaceFile(QString::fromLatin1(tcpip::ttlDropIn),
                    "# Quorrel's time-to-live, written by quorrel-tcpip.\n"
                    "net.ipv4.ip_default_ttl = " +
                        QByteArray::number(kept.at(Value::Ttl)) + '\n'))
        return true;
    if (!replaceFile(configuration, tcpip::formatConfiguration(previous)))
        say(QStringLiteral("the configuration could not be restored"));
    return false;
}

// Applies first and keeps only what was applied, so that a value the system
// refuses leaves the link and the files as they were.
int set(const QStringList &arguments)
{
    const std::optional<Values> given = parseValues(arguments);
    if (!given)
        return tcpip::Refused;
    const QString link = tcpip::defaultLink();
    if (link.isEmpty()) {
        say(QStringLiteral("no link carries a default route"));
        return tcpip::NoLink;
    }
    const Values previous = tcpip::readConfiguration();
    Values kept = previous;
    for (const auto &[value, number] : *given) {
        if (value != Value::LinkMtu)
            kept[value] = number;
    }
    Values now = kept;
    if (given->contains(Value::LinkMtu))
        now[Value::LinkMtu] = given->at(Value::LinkMtu);
    const std::optional<Live> before = readLive(link);
    if (!before || !applyValues(link, now, *before))
        return tcpip::NotApplied;
    if (keep(previous, kept))
        return tcpip::Done;
    if (!restore(link, *before))
        say(QStringLiteral("the link could not be restored"));
    return tcpip::NotWritten;
}

// For the hooks that run whenever a link comes up.
int applyKept()
{
    const Values kept = tcpip::readConfiguration();
    if (kept.empty())
        return tcpip::Done;
    const QString link = tcpip::defaultLink();
    if (link.isEmpty())
        return tcpip::NoLink;
    const std::optional<Live> before = readLive(link);
    return before && applyValues(link, kept, *before) ? tcpip::Done : tcpip::NotApplied;
}

int reset()
{
    if (!removeFile(tcpip::configurationFile) || !removeFile(tcpip::ttlDropIn))
        return tcpip::NotWritten;
    const bool ttl = setTtl(defaultTtl);
    const QString link = tcpip::defaultLink();
    if (link.isEmpty())
        return ttl ? tcpip::Done : tcpip::NotApplied;
    const bool mtu = setMtu(link, defaultMtu);
    const std::optional<QStringList> route = defaultRoute(link);
    const bool routeRestored = route && setRoute(link, withMetrics(*route, {}));
    return ttl && mtu && routeRestored ? tcpip::Done : tcpip::NotApplied;
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.value(0);
    if (command == u"set" && arguments.size() > 1)
        return set(arguments.mid(1));
    if (command == u"apply" && arguments.size() == 1)
        return applyKept();
    if (command == u"reset" && arguments.size() == 1)
        return reset();
    say(QStringLiteral("usage: quorrel-tcpip set NAME=NUMBER... | apply | reset"));
    return tcpip::Refused;
}
