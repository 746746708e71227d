// quorrel-tcpip: sets Quorrel's TCP/IP values on the running system and keeps
// them in its configuration, with the link they are for and what that link and
// the system held before, so that the link's hooks can apply them again and a
// reset can put back what was there. Runs as root through pkexec, or wherever
// the process may change the network.
//
//   quorrel-tcpip set NAME=NUMBER...  checks every value, applies them now, keeps them
//   quorrel-tcpip apply [LINK]        applies the kept values again, when LINK (if given)
//                                     is their link and it carries a default route
//   quorrel-tcpip reset               puts back what was there and removes the files

#include "platform/store/StoreFile.h"
#include "platform/tcpip/SystemValues.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

using namespace Qt::StringLiterals;
using tcpip::Configuration;
using tcpip::HelperStatus;
using tcpip::Setting;
using tcpip::Settings;

namespace
{

// Long enough for every other run to end, even twenty at once on a slow machine.
constexpr int lockWaitMs = 60000;

// Control characters from the command line would reach the terminal as they are.
void say(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown) {
        if (c < u' ' || c == QChar(0x7f))
            c = u'?';
    }
    std::fprintf(stderr, "quorrel-tcpip: %s\n", qPrintable(shown));
}

// A closed standard descriptor would be taken by the next file opened, and the
// helper's messages would go into that file; any other is someone else's.
bool keepOnlyStandardDescriptors()
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) < 0 && open("/dev/null", O_RDWR) != descriptor)
            return false;
    }
    if (close_range(3, ~0U, 0) == 0)
        return true;
    // Older kernels lack close_range(2): each one in turn, most of them not open.
    const long highest = sysconf(_SC_OPEN_MAX);
    for (long descriptor = 3; descriptor < highest; ++descriptor)
        static_cast<void>(close(static_cast<int>(descriptor)));
    return highest > 0;
}

// What a program that runs as root must not take from whoever started it: the
// umask (pkexec keeps the caller's), blocked or ignored signals, a file size
// limit, the environment, descriptors and the working folder. Empty when all is
// set, otherwise what could not be.
QString startClean()
{
    umask(022);
    sigset_t none;
    // A write beyond a limit or to a closed pipe must fail where it is checked,
    // not end the helper halfway through a change.
    if (sigemptyset(&none) != 0 || sigprocmask(SIG_SETMASK, &none, nullptr) != 0 ||
        std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || std::signal(SIGPIPE, SIG_IGN) == SIG_ERR)
        return u"its signals could not be set"_s;
    // Raising a hard limit needs root's CAP_SYS_RESOURCE.
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &unlimited) != 0)
        return u"the file size limit it was given could not be lifted"_s;
    if (clearenv() != 0 || setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1) != 0)
        return u"its environment could not be cleared"_s;
    if (!keepOnlyStandardDescriptors())
        return u"the files it was given could not be closed"_s;
    if (chdir("/") != 0)
        return u"it could not leave its working folder"_s;
    return {};
}

// /etc/quorrel, made when missing. What is in a folder that others than root
// may write, or what a link in its place leads to, may have been put there to
// make the helper write or wait where it should not: such a folder is refused.
// One of root's alone is made readable by everyone, as the window reads it.
bool ownFolderIsSafe()
{
    const char *folder = tcpip::configurationFolder;
    if (mkdir(folder, 0755) != 0 && errno != EEXIST) {
        say(u"%1 could not be made"_s.arg(QLatin1StringView(folder)));
        return false;
    }
    const int descriptor = open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status {
    };
    const bool safe = descriptor >= 0 && fstat(descriptor, &status) == 0 && status.st_uid == 0 &&
                      (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    const bool readable =
        safe && ((status.st_mode & 07777) == 0755 || fchmod(descriptor, 0755) == 0);
    // Opened for reading only: nothing is lost when the close fails.
    if (descriptor >= 0)
        static_cast<void>(close(descriptor));
    if (!safe)
        say(u"%1 is not a folder of root's alone; see what is in it, then make it so "
            "(chown root:root %1; chmod 755 %1)"_s.arg(QLatin1StringView(folder)));
    else if (!readable)
        say(u"%1 could not be made readable"_s.arg(QLatin1StringView(folder)));
    return readable;
}

// The NAME=NUMBER arguments, each name once; nothing when any of them is wrong.
std::optional<Settings> parseValues(const QStringList &arguments)
{
    Settings values;
    for (const QString &argument : arguments) {
        const qsizetype equals = argument.indexOf(u'=');
        const std::optional<Setting> value =
            tcpip::settingNamed(QStringView(argument).left(equals));
        const std::optional<long long> number =
            value ? tcpip::checked(*value, QStringView(argument).mid(equals + 1)) : std::nullopt;
        if (equals < 0 || !number || values.contains(*value)) {
            say(u"refused: %1"_s.arg(argument));
            return std::nullopt;
        }
        values[*value] = *number;
    }
    return values;
}

// Runs iproute2's `ip`, from the system's folders only; its standard output.
std::optional<QByteArray> ip(const QStringList &arguments)
{
    static const QString program = QStandardPaths::findExecutable(
        u"ip"_s, {u"/usr/sbin"_s, u"/usr/bin"_s, u"/sbin"_s, u"/bin"_s});
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        say(u"ip %1 failed"_s.arg(arguments.join(u' ')));
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

bool setMtu(const QString &link, long long mtu)
{
    return ip({u"link"_s, u"set"_s, u"dev"_s, link, u"mtu"_s, QString::number(mtu)}).has_value();
}

// The route metrics that Quorrel sets, as `ip` shows them: "advmss [lock] NUMBER".
struct Metric {
    bool locked = false;
    QString number;
};

// The metrics of the route that Quorrel sets, and the values they take.
const std::array<std::pair<Setting, QString>, 2> ourMetrics{
    {{Setting::Mss, u"advmss"_s}, {Setting::Window, u"window"_s}}};

bool isOurs(const QString &metric)
{
    return std::any_of(ourMetrics.begin(), ourMetrics.end(),
                       [&](const auto &ours) { return ours.second == metric; });
}

// A default route, split into the words that name it and the metrics it holds.
// A change gives all of them again: the kernel replaces a route's metrics whole.
struct Route {
    QStringList identity;
    QStringList otherMetrics;
    std::map<QString, Metric> ours;
};

// The words `ip route` takes as they are shown: those that name a route, with
// their value, and its metrics (ip-route(8)), with "lock" before the value
// where the metric is locked.
const QStringList namingWords{u"table"_s, u"metric"_s, u"nhid"_s, u"dev"_s,
                              u"proto"_s, u"scope"_s,  u"src"_s,  u"realms"_s};
const QStringList metricWords{
    u"mtu"_s,      u"advmss"_s,     u"window"_s,  u"rtt"_s,
    u"rttvar"_s,   u"reordering"_s, u"cwnd"_s,    u"initcwnd"_s,
    u"initrwnd"_s, u"ssthresh"_s,   u"rto_min"_s, u"hoplimit"_s,
    u"features"_s, u"quickack"_s,   u"congctl"_s, u"fastopen_no_cookie"_s};
// What `ip` shows of a route's state, which no one sets.
const QStringList stateWords{u"linkdown"_s,   u"dead"_s,    u"offload"_s,           u"trap"_s,
                             u"rt_offload"_s, u"rt_trap"_s, u"rt_offload_failed"_s, u"pervasive"_s};

// The route as shown by `ip -o route`, or why it cannot be changed without
// losing something of it.
std::variant<Route, QString> parseRoute(const QStringList &words)
{
    Route route{{words.value(0)}, {}, {}};
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString &word = words[i];
        const bool locked = words.value(i + 1) == u"lock";
        if (namingWords.contains(word) && i + 1 < words.size()) {
            route.identity << word << words[++i];
        } else if (word == u"via" && i + 1 < words.size()) {
            // "via inet6 ADDRESS" for a gateway of the other family.
            const qsizetype end = words[i + 1].startsWith(u"inet") ? i + 2 : i + 1;
            route.identity += words.mid(i, end - i + 1);
            i = end;
        } else if (word == u"onlink") {
            route.identity << word;
        } else if (metricWords.contains(word) && i + (locked ? 2 : 1) < words.size()) {
            const Metric metric{locked, words[i + (locked ? 2 : 1)]};
            if (isOurs(word))
                route.ours[word] = metric;
            else
                route.otherMetrics += words.mid(i, locked ? 3 : 2);
            i += locked ? 2 : 1;
        } else if (!stateWords.contains(word)) {
            return u"its default route holds \"%1\", which the helper cannot keep"_s.arg(word);
        }
    }
    // A route through a nexthop object names it alone: `ip` shows the
    // nexthop's gateway and link, but a change may not give them.
    if (route.identity.contains(u"nhid"_s)) {
        const auto drop = [&](const QString &word, qsizetype words) {
            if (const qsizetype at = route.identity.indexOf(word); at > 0)
                route.identity.remove(at, words);
        };
        drop(u"via"_s, route.identity.contains(u"inet6"_s) ? 3 : 2);
        drop(u"dev"_s, 2);
        drop(u"onlink"_s, 1);
    }
    if (route.identity.value(0) != u"default")
        return u"its default route could not be read"_s;
    return route;
}

QString metricOf(const QStringList &routeWords)
{
    const qsizetype at = routeWords.indexOf(u"metric"_s);
    return at > 0 ? routeWords.value(at + 1) : u"0"_s;
}

// The one default IPv4 route of the link in the main table, or why there is
// none that the helper can change. A change names a route by its table and
// metric only (the kernel replaces the first route that has them), so another
// link's default route with the same metric would be changed in its place.
std::variant<Route, QString> defaultRoute(const QString &link)
{
    const std::optional<QByteArray> shown =
        ip({u"-4"_s, u"-o"_s, u"route"_s, u"show"_s, u"default"_s, u"table"_s, u"main"_s});
    if (!shown)
        return u"the routes could not be read"_s;
    QList<QStringList> ours;
    QStringList otherMetrics;
    for (const QByteArray &line : shown->trimmed().split('\n')) {
        const QStringList words = QString::fromLatin1(line.simplified()).split(u' ');
        const qsizetype dev = words.indexOf(u"dev"_s);
        if (dev > 0 && words.value(dev + 1) == link)
            ours.append(words);
        else
            otherMetrics.append(metricOf(words));
    }
    if (ours.size() != 1)
        return ours.isEmpty() ? u"%1 carries no default route"_s.arg(link)
                              : u"%1 carries more than one default route"_s.arg(link);
    if (otherMetrics.contains(metricOf(ours.first())))
        return u"another link's default route has the metric of %1's, and a change could "
               "reach that route instead"_s.arg(link);
    return parseRoute(ours.first());
}

// The route with advmss and window as given; a metric not given keeps what
// it is, and one given as nothing is taken away.
using RouteChange = std::map<QString, std::optional<long long>>;

bool changeRoute(const Route &route, const RouteChange &change)
{
    QStringList words = QStringList{u"route"_s, u"change"_s} + route.identity + route.otherMetrics;
    for (const auto &[value, name] : ourMetrics) {
        const auto kept = route.ours.find(name);
        const auto changed = change.find(name);
        const bool hasKept = kept != route.ours.end();
        std::optional<QString> number = hasKept ? std::optional(kept->second.number) : std::nullopt;
        if (changed != change.end())
            number =
                changed->second ? std::optional(QString::number(*changed->second)) : std::nullopt;
        // 0 is the kernel's "not set"; leaving the metric out would keep it on
        // a route through a nexthop object.
        if (!number)
            words << name << u"0"_s;
        else if (hasKept && kept->second.locked)
            words << name << u"lock"_s << *number;
        else
            words << name << *number;
    }
    return ip(words).has_value();
}

const QString ttlFile = u"/proc/sys/net/ipv4/ip_default_ttl"_s;

bool setTtl(long long ttl)
{
    QFile file(ttlFile);
    const QByteArray number = QByteArray::number(ttl);
    return file.open(QIODevice::WriteOnly) && file.write(number) == number.size() && file.flush();
}

std::optional<long long> liveTtl()
{
    QFile file(ttlFile);
    bool ok = false;
    const long long ttl =
        file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&ok) : 0;
    return ok ? std::optional(ttl) : std::nullopt;
}

// What the link and the system hold now: to be recorded before the first
// change, and put back when a change fails halfway.
struct Live {
    QString link;
    long long mtu;
    Route route;
    long long ttl;
};

std::variant<Live, QString> readLive(const QString &link)
{
    const std::optional<long long> ttl = liveTtl();
    const std::optional<long long> mtu = tcpip::linkMtu(link);
    std::variant<Route, QString> route = defaultRoute(link);
    if (const QString *why = std::get_if<QString>(&route))
        return *why;
    if (!ttl || !mtu)
        return u"the MTU of %1 or the TTL could not be read"_s.arg(link);
    return Live{link, *mtu, std::get<Route>(std::move(route)), *ttl};
}

// The number the route's metric has, when it has one.
std::optional<long long> routeNumber(const Route &route, const QString &name)
{
    const auto found = route.ours.find(name);
    bool ok = found != route.ours.end();
    const long long number = ok ? found->second.number.toLongLong(&ok) : 0;
    return ok ? std::optional(number) : std::nullopt;
}

// Settings to record as "before": the link's MTU, its route's metrics, the TTL.
Settings recorded(const Live &live)
{
    Settings before{{Setting::Mtu, live.mtu}, {Setting::Ttl, live.ttl}};
    for (const auto &[value, name] : ourMetrics) {
        if (const std::optional<long long> number = routeNumber(live.route, name))
            before[value] = *number;
    }
    return before;
}

// One change of the running system; each part only when given.
struct Change {
    std::optional<long long> mtu;
    RouteChange route;
    std::optional<long long> ttl;
};

// The change that sets the values: the MTU for now (LinkMtu) before the one to keep.
Change changeTo(const Settings &values)
{
    Change change;
    for (const Setting mtu : {Setting::LinkMtu, Setting::Mtu}) {
        if (values.contains(mtu) && !change.mtu)
            change.mtu = values.at(mtu);
    }
    for (const auto &[value, name] : ourMetrics) {
        if (values.contains(value))
            change.route[name] = values.at(value);
    }
    if (values.contains(Setting::Ttl))
        change.ttl = values.at(Setting::Ttl);
    return change;
}

// The change that puts back what was recorded: a metric the route did not have
// is taken away.
Change changeBack(const Settings &before)
{
    Change change = changeTo(before);
    for (const auto &[value, name] : ourMetrics) {
        if (!before.contains(value))
            change.route[name] = std::nullopt;
    }
    return change;
}

// Every step is tried, so that as much as possible is back.
bool restore(const Live &live)
{
    const bool mtu = setMtu(live.link, live.mtu);
    const bool route = changeRoute(live.route, {});
    return setTtl(live.ttl) && mtu && route;
}

// Applies the change to the link, its route and the system; when a step is
// refused, puts back what was there before.
bool applyChange(const Live &live, const Change &change)
{
    const bool applied = (!change.mtu || setMtu(live.link, *change.mtu)) &&
                         (change.route.empty() || changeRoute(live.route, change.route)) &&
                         (!change.ttl || setTtl(*change.ttl));
    if (!applied && !restore(live))
        say(u"%1 could not be restored"_s.arg(live.link));
    return applied;
}

// What is on disk when the run starts, to be put back if keeping fails.
struct Kept {
    QByteArray bytes; // empty: no configuration
    Configuration configuration;
};

std::optional<Kept> readKept()
{
    const std::optional<QByteArray> bytes = tcpip::readConfigurationFile();
    if (!bytes) {
        say(u"%1 is not a file that the helper can read"_s.arg(
            QLatin1StringView(tcpip::configurationFile)));
        return std::nullopt;
    }
    return Kept{*bytes, tcpip::parseConfiguration(*bytes)};
}

bool removeFile(const char *fileName)
{
    return unlink(fileName) == 0 || errno == ENOENT;
}

bool writeOrRemove(const char *fileName, const QByteArray &bytes)
{
    return bytes.isEmpty() ? removeFile(fileName)
                           : StoreFile::replaceAs(QString::fromLatin1(fileName), bytes, 0644);
}

QByteArray dropInFor(const Settings &values)
{
    if (!values.contains(Setting::Ttl))
        return {};
    return "# Quorrel's time-to-live, written by quorrel-tcpip.\nnet.ipv4.ip_default_ttl = " +
           QByteArray::number(values.at(Setting::Ttl)) + '\n';
}

// Keeps the configuration and the TTL's boot setting; when the second write
// fails, the configuration gets back what it held.
bool keep(const Kept &previous, const Configuration &configuration)
{
    if (!writeOrRemove(tcpip::configurationFile, tcpip::formatConfiguration(configuration)))
        return false;
    if (writeOrRemove(tcpip::ttlDropIn, dropInFor(configuration.values)))
        return true;
    if (!writeOrRemove(tcpip::configurationFile, previous.bytes))
        say(u"the configuration could not be restored"_s);
    return false;
}

bool carriesDefaultRoute(const QString &link)
{
    return tcpip::linksWithDefaultRoute().contains(link);
}

// Puts the link the values were set for back as it was recorded. A link that
// is gone comes back with its own values, and one without its default route
// has only its MTU left of Quorrel's.
bool restoreLink(const Configuration &configuration)
{
    const QString &link = configuration.link;
    if (link.isEmpty() || !configuration.before.contains(Setting::Mtu) || !tcpip::linkMtu(link))
        return true;
    if (!carriesDefaultRoute(link))
        return setMtu(link, configuration.before.at(Setting::Mtu));
    const std::variant<Live, QString> live = readLive(link);
    if (const QString *why = std::get_if<QString>(&live)) {
        say(*why);
        return false;
    }
    Change back = changeBack(configuration.before);
    back.ttl.reset();
    return applyChange(std::get<Live>(live), back);
}

// Applies first and keeps only what was applied, so that a value the system
// refuses leaves the link and the files as they were.
HelperStatus set(const Settings &given)
{
    const std::optional<Kept> previous = readKept();
    if (!previous)
        return HelperStatus::Unsafe;
    const QString link = tcpip::defaultLink();
    if (link.isEmpty()) {
        say(u"no link carries a default route"_s);
        return HelperStatus::NoLink;
    }
    const std::variant<Live, QString> live = readLive(link);
    if (const QString *why = std::get_if<QString>(&live)) {
        say(*why);
        return HelperStatus::NotApplied;
    }
    const Live &before = std::get<Live>(live);
    Configuration configuration = previous->configuration;
    // A new link's values are recorded; the TTL before Quorrel's first change stays.
    if (configuration.link != link || configuration.before.empty()) {
        const Settings earlier = configuration.before;
        configuration.link = link;
        configuration.before = recorded(before);
        if (earlier.contains(Setting::Ttl))
            configuration.before[Setting::Ttl] = earlier.at(Setting::Ttl);
    }
    for (const auto &[value, number] : given) {
        if (value != Setting::LinkMtu)
            configuration.values[value] = number;
    }
    Settings now = configuration.values;
    if (given.contains(Setting::LinkMtu))
        now[Setting::LinkMtu] = given.at(Setting::LinkMtu);
    if (!applyChange(before, changeTo(now)))
        return HelperStatus::NotApplied;
    if (!keep(*previous, configuration)) {
        if (!restore(before))
            say(u"%1 could not be restored"_s.arg(link));
        return HelperStatus::NotWritten;
    }
    // The link the values were set for before gets back what it had.
    const Configuration &earlier = previous->configuration;
    return earlier.link == link || restoreLink(earlier) ? HelperStatus::Done
                                                        : HelperStatus::NotApplied;
}

// For the hooks that run whenever a link comes up: another link than the
// values' own is left alone, and so is theirs while it carries no default route.
HelperStatus applyKept(const QString &cameUp)
{
    const std::optional<Kept> kept = readKept();
    if (!kept)
        return HelperStatus::Unsafe;
    const Configuration &configuration = kept->configuration;
    if (configuration.values.empty() || configuration.link.isEmpty() ||
        (!cameUp.isEmpty() && cameUp != configuration.link))
        return HelperStatus::Done;
    if (!carriesDefaultRoute(configuration.link))
        return HelperStatus::Done;
    const std::variant<Live, QString> live = readLive(configuration.link);
    if (const QString *why = std::get_if<QString>(&live)) {
        say(*why);
        return HelperStatus::NotApplied;
    }
    return applyChange(std::get<Live>(live), changeTo(configuration.values))
               ? HelperStatus::Done
               : HelperStatus::NotApplied;
}

// Puts back what was recorded, then removes the files; when the system refuses
// to take something back, the files stay for another try.
HelperStatus reset()
{
    const std::optional<Kept> kept = readKept();
    if (!kept)
        return HelperStatus::Unsafe;
    const Settings &before = kept->configuration.before;
    const bool ttl = !before.contains(Setting::Ttl) || setTtl(before.at(Setting::Ttl));
    if (!ttl || !restoreLink(kept->configuration))
        return HelperStatus::NotApplied;
    return removeFile(tcpip::ttlDropIn) && removeFile(tcpip::configurationFile)
               ? HelperStatus::Done
               : HelperStatus::NotWritten;
}

HelperStatus run(const QStringList &arguments)
{
    const QString command = arguments.value(0);
    const bool known = (command == u"set" && arguments.size() > 1) ||
                       (command == u"apply" && arguments.size() <= 2 &&
                        (arguments.size() == 1 || tcpip::isLinkName(arguments[1]))) ||
                       (command == u"reset" && arguments.size() == 1);
    if (!known) {
        say(u"usage: quorrel-tcpip set NAME=NUMBER... | apply [LINK] | reset"_s);
        return HelperStatus::Refused;
    }
    // Every value is checked before anything is touched.
    const std::optional<Settings> given =
        command == u"set" ? parseValues(arguments.mid(1)) : std::optional(Settings());
    if (!given)
        return HelperStatus::Refused;
    if (!ownFolderIsSafe())
        return HelperStatus::Unsafe;
    // One run at a time, from reading the state to keeping it: /etc/quorrel/.lock.
    const StoreLock lock(QString::fromLatin1(tcpip::configurationFolder) + u'/', lockWaitMs);
    if (lock.state() == StoreLock::State::Busy) {
        say(u"another run of the helper did not end"_s);
        return HelperStatus::Busy;
    }
    if (lock.state() != StoreLock::State::Locked) {
        say(u"its lock could not be taken"_s);
        return HelperStatus::NotWritten;
    }
    if (command == u"set")
        return set(*given);
    if (command == u"apply")
        return applyKept(arguments.value(1));
    return reset();
}

} // namespace

int main(int argc, char *argv[])
{
    // Before Qt reads anything of the environment.
    if (const QString refusal = startClean(); !refusal.isEmpty()) {
        say(u"refused: %1"_s.arg(refusal));
        return static_cast<int>(HelperStatus::Unsafe);
    }
    const QCoreApplication application(argc, argv);
    return static_cast<int>(run(QCoreApplication::arguments().mid(1)));
}
