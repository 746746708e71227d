// The probes that drive Quorrel's window in the bench's processes. The
// loopback server runs in a process of its own, so their CPU time is the client's.

#include "bench/Bench.h"
#include "history/HistoryWindow.h"
#include "support/TestRig.h" // the window, its services and the scripted dialogs

#include <QTcpServer>
#include <cstdio>
#include <ctime>
#include <curl/curl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

constexpr int fetchRuns = 50;
constexpr int stopRounds = 10;
constexpr int hostListRuns = 5;
constexpr int listLength = 10000;
constexpr int historyRuns = 10;
constexpr int soakRuns = 3;
constexpr int soakAttempts = 5000;
constexpr int soakWarmUp = soakAttempts / 10;
constexpr int wireRuns = 5;
// The loopback server's MiB of "<", from a server that honours ranges and from one that ignores
// them.
const QString mebibyte = u"/page?hex=3c&times=1048576"_s;
const QString honoured = u"&ranges"_s;

// Quorrel's window as the program wires it, but with stores of its own and scripted boxes.
struct Rig {
    explicit Rig(const QStringList &hosts)
    {
        window.List1->clear();
        window.List1->addItems(hosts);
    }
    QTemporaryDir folder;
    ScriptedDialogs dialogs;
    QtTray tray;
    DesktopShell shell;
    // Made anew in place in another folder for a load that reads the disk,
    // as at start-up, and not QSettings' copy of the file it has written.
    std::optional<QtSettingsStore> settings{std::in_place, folder.filePath(u"0"_s)};
    CurlInet inet;
    SystemClock clock;
    ClockSeededRandom random;
    FileRegistry registry{folder.filePath(u"registry.reg"_s)};
    SystemTcpIp tcpip{SystemTcpIp::installedHelper()};
    frmmain window{
        Services{&dialogs, &tray, &shell, &*settings, &inet, &clock, &random, &registry, &tcpip}};
};

// The ms that work takes, with the event-loop turns that follow: layout, then paint.
double millisecondsOf(const std::function<void()> &work)
{
    QElapsedTimer elapsed;
    elapsed.start();
    work();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return static_cast<double>(elapsed.nsecsElapsed()) / 1e6;
}

// The CPU time (ms) and context switches of all the process's threads, ended ones too.
std::pair<double, double> processCosts()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return {cpu.tv_sec * 1e3 + cpu.tv_nsec / 1e6, usage.ru_nvcsw + usage.ru_nivcsw};
}

// As much of a document as Quorrel reads, as a byte range.
const QByteArray documentStart = "0-" + QByteArray::number(CurlInet::documentStartLimit - 1);

// The least a program can do to fetch a document, or the range of it, with
// libcurl and keep it.
void bareTransfer(const QByteArray &url, const QByteArray &range = {})
{
    QByteArray document;
    CURL *easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_RANGE, range.isEmpty() ? nullptr : range.constData());
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &document);
    curl_easy_setopt(
        easy, CURLOPT_WRITEFUNCTION, +[](char *data, size_t size, size_t count, void *kept) {
            static_cast<QByteArray *>(kept)->append(data, qsizetype(size * count));
            return size * count;
        });
    if (curl_easy_perform(easy) != CURLE_OK)
        std::fprintf(stderr, "quorrel-bench: a bare transfer failed\n");
    curl_easy_cleanup(easy);
}

} // namespace

QList<Row> fetchRows(const Tools &tools)
{
    Rig rig({tools.host + u"/html"_s});
    const QByteArray url = "http://" + tools.host.toUtf8() + "/html";
    const std::function<void()> fetches[] = {[&] { rig.window.httpd(); },
                                             [&] { bareTransfer(url, documentStart); }};
    QList<double> cpuMs[2];
    QList<double> switches[2];
    // After a warm-up of each, the two take turns to share any passing load.
    for (int run = -1; run < fetchRuns; ++run) {
        for (const int which : {0, 1}) {
            const auto [cpuBefore, switchesBefore] = processCosts();
            fetches[which]();
            const auto [cpuAfter, switchesAfter] = processCosts();
            if (run >= 0) {
                cpuMs[which].append(cpuAfter - cpuBefore);
                switches[which].append(switchesAfter - switchesBefore);
            }
        }
    }
    // Every attempt must have fetched, or the figures are not those of a fetch.
    const QString failed = rig.window.Label4->text().section(u": "_s, 1);
    const QString on =
        u"loopback HTTP, window hidden"_s + (failed == u"0" ? QString() : u"; FAILED: "_s + failed);
    const QString bare = u"bare libcurl transfer of the same range"_s;
    return {{u"one fetch, CPU time"_s, on, u"ms"_s, cpuMs[0],
             Target{u"≤ 1.25 × bare transfer"_s, 1.25}, bare, cpuMs[1]},
            {u"one fetch, context switches"_s, on, QString(), switches[0],
             Target{u"≤ bare transfer"_s, 1}, bare, switches[1]}};
}

QList<Row> wireRows(const Tools &tools)
{
    QList<double> kib[3];
    for (int run = 0; run < wireRuns; ++run) {
        Child wire = spawn(QStandardPaths::findExecutable(u"unshare"_s),
                           {u"-rn"_s, tools.bench, u"--wire"_s}, QProcess::systemEnvironment());
        const QByteArray output = reap(wire).output;
        for (const int which : {0, 1, 2})
            for (const double bytes : valuesTagged(output, QByteArray::number(which) + ' '))
                kib[which].append(bytes / 1024);
    }
    const QString on =
        u"loopback of a network namespace of its own, both directions; 1 MiB document, server "_s;
    const QString whole = u"the whole document"_s;
    return {{u"bytes on the link, one attempt"_s, on + u"honours ranges"_s, u"KiB"_s, kib[0],
             Target{u"≤ 3 KiB"_s, 3, std::nullopt, false}, whole, kib[2]},
            {u"bytes on the link, one attempt"_s, on + u"ignores ranges"_s, u"KiB"_s, kib[1],
             Target{u"≤ 64 KiB"_s, 64, std::nullopt, false}, whole, kib[2]}};
}

namespace
{

// The bytes the loopback link has carried: every packet crosses it once.
double loopbackBytes()
{
    static const QRegularExpression received(u"^ *lo: *(\\d+)"_s,
                                             QRegularExpression::MultilineOption);
    return received.match(QString::fromLatin1(fileBytes(u"/proc/self/net/dev"_s)))
        .captured(1)
        .toDouble();
}

// The link's bytes while `work` runs and its connections close.
double bytesOnTheLink(const std::function<void()> &work)
{
    const double before = loopbackBytes();
    work();
    QTest::qWait(300);
    return loopbackBytes() - before;
}

// A new network namespace has its loopback link down.
bool loopbackUp()
{
    const int handle = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq link{};
    std::strncpy(link.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = handle >= 0 && ioctl(handle, SIOCGIFFLAGS, &link) == 0;
    link.ifr_flags = static_cast<short>(link.ifr_flags | IFF_UP);
    up = up && ioctl(handle, SIOCSIFFLAGS, &link) == 0;
    if (handle >= 0)
        close(handle);
    return up;
}

} // namespace

// --wire, in a network namespace of its own: the loopback server in a process
// of its own, then one attempt of the window against a server that honours
// ranges ("0 BYTES"), one against a server that ignores them ("1 BYTES"), and
// a bare transfer of the whole document ("2 BYTES").
int wireChild()
{
    if (!loopbackUp())
        return 1;
    Child server =
        spawn(QApplication::applicationFilePath(), {u"--serve"_s}, QProcess::systemEnvironment());
    const std::optional<double> port = awaitValue(server, "port ", 20s);
    if (!port)
        return 1;
    const QString host = u"127.0.0.1:%1"_s.arg(*port) + mebibyte;
    for (const QString &ranges : {honoured, QString()}) {
        Rig rig({host + ranges});
        const double bytes = bytesOnTheLink([&] { rig.window.httpd(); });
        if (rig.window.Label4->text().endsWith(u": 0"_s))
            std::printf("%d %.0f\n", ranges.isEmpty() ? 1 : 0, bytes);
    }
    std::printf("2 %.0f\n", bytesOnTheLink([&] { bareTransfer("http://" + host.toUtf8()); }));
    end(server);
    return 0;
}

QList<Row> hangingFetchRows(const Tools &tools)
{
    Rig rig({tools.host + u"/hang"_s});
    rig.window.show();
    QList<double> stops;
    QList<double> gaps;
    for (int round = 0; round < stopRounds; ++round) {
        QElapsedTimer sinceStop;
        QTimer::singleShot(300, &rig.window, [&] {
            sinceStop.start();
            rig.window.Command3_Click();
        });
        // The longest gap between the ticks of a 1 ms timer, less the millisecond.
        QElapsedTimer sinceTick;
        qint64 longestNs = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestNs = std::max(longestNs, sinceTick.nsecsElapsed() - 1000000);
            sinceTick.start();
        });
        sinceTick.start();
        ticker.start(1);
        rig.window.Command1_Click();
        stops.append(sinceStop.nsecsElapsed() / 1e6);
        gaps.append(longestNs / 1e6);
    }
    const QString on = u"server that never answers; Stop 300 ms after Start"_s;
    return {{u"Stop during a hanging fetch"_s, on, u"ms"_s, stops, Target{u"≤ 100 ms"_s, 100}},
            {u"longest event-loop gap during a hanging fetch"_s, on, u"ms"_s, gaps,
             Target{u"≤ 20 ms"_s, 20}}};
}

QList<Row> hostListRows()
{
    QStringList hosts;
    for (int number = 0; number < listLength; ++number)
        hosts.append(u"host%1.example.org"_s.arg(number));
    Rig rig(hosts);
    // On the Hosts page, as when the user works there; every timed save
    // replaces a file of the same hosts, as a user's does.
    millisecondsOf([&] {
        rig.window.show();
        rig.window.SSTab1->setCurrentWidget(rig.window.List1->parentWidget());
        static_cast<void>(rig.window.save());
    });
    QList<double> times;
    bool whole = true;
    for (int run = 1; run <= hostListRuns; ++run) {
        const double saveMs = millisecondsOf([&] { static_cast<void>(rig.window.save()); });
        const QString folder = rig.folder.filePath(QString::number(run));
        QDir().mkpath(folder + u"/Quorrel"_s);
        QFile::copy(rig.settings->fileName(u"Quorrel"_s), folder + u"/Quorrel/Quorrel.ini"_s);
        rig.settings.emplace(folder);
        millisecondsOf([&] { rig.window.List1->clear(); });
        times.append(saveMs + millisecondsOf([&] { rig.window.loadsettings(); }));
        // A failed save or copy would leave the list short.
        whole = whole && rig.window.List1->count() == listLength;
    }
    return {{u"save + load"_s,
             u"10,000 hosts, Hosts page shown"_s + (whole ? QString() : u"; FAILED"_s), u"ms"_s,
             times, Target{u"≤ 300 ms"_s, 300}}};
}

// A week of attempts at one a minute, one in fifty failed, and a full
// rolled-over file before it: what the History window reads when it opens.
QList<Row> historyRows()
{
    const QTemporaryDir folder;
    const AttemptLog log(folder.filePath(u"attempts.log"_s));
    const auto lines = [](qint64 count, qint64 minutesBeforeNow) {
        QByteArray text;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (qint64 minute = minutesBeforeNow + count; minute > minutesBeforeNow; --minute) {
            const bool ok = minute % 50 != 0;
            text += now.addSecs(-60 * minute).toString(Qt::ISODate).left(19).toUtf8() +
                    "+00:00\tHTTP\twww.host" + QByteArray::number(minute % 8) + ".example.org\t" +
                    (ok ? "ok\t" : "failed\ttimed out after 15 s") + "\t231 ms\t10844 bytes\n";
        }
        return text;
    };
    constexpr qint64 week = 7 * 24 * 60;
    const QByteArray rolledOver = lines(week * 2, week);
    const bool written = writeWholeFile(log.fileName() + u".1"_s, rolledOver) &&
                         writeWholeFile(log.fileName(), lines(week, 0));
    QList<double> times;
    for (int run = 0; run <= historyRuns; ++run) {
        std::unique_ptr<HistoryWindow> window;
        const double ms = millisecondsOf([&] {
            window = std::make_unique<HistoryWindow>(log);
            window->show();
        });
        if (run > 0) // the first fills the caches
            times.append(ms);
    }
    return {{u"History window opened"_s,
             u"7 days at 1 minute (10,080 lines) + a rolled-over file of %1 lines"_s.arg(
                 rolledOver.count('\n')) +
                 (written ? QString() : u"; FAILED"_s),
             u"ms"_s, times, Target{u"≤ 100 ms"_s, 100}}};
}

QList<Row> soakRows(const Tools &tools)
{
    // A free loopback port, closed again: connections to it are refused.
    const quint16 closed = [] {
        QTcpServer server;
        return server.listen(QHostAddress::LocalHost) ? server.serverPort() : quint16(0);
    }();
    const QStringList hosts{tools.host + u"/html"_s, tools.host + u"/missing"_s,
                            u"127.0.0.1:%1/"_s.arg(closed)};
    QList<double> growths;
    for (int run = 0; run < soakRuns; ++run) {
        Child soak =
            spawn(tools.bench, QStringList{u"--soak"_s} + hosts, QProcess::systemEnvironment());
        const QList<double> rss = valuesTagged(reap(soak).output, "rss ");
        if (rss.size() == 2)
            growths.append(rss[1] - rss[0]);
    }
    return {{u"RSS growth"_s,
             u"attempts 500 to 5,000, each by Timer1_Timer from the event loop: succeed, 404 or "
             "refused, at random"_s,
             u"KiB"_s, growths, Target{u"≤ 1 MiB"_s, 1024}}};
}

// --soak HOST...: the window, shown, attempts at each tick from the event loop,
// a host at random each time; prints "rss KIB" after the warm-up and at the end.
int soakChild(const QStringList &hosts)
{
    Rig rig(hosts);
    rig.window.random1->setChecked(true);
    rig.window.Slider1->setValue(1);
    rig.window.show();
    int done = 0;
    // Queued anew only after each attempt: it would run inside the attempt's wait.
    std::function<void()> tick = [&] {
        rig.window.Timer1_Timer();
        if (++done == soakWarmUp || done == soakAttempts)
            std::printf("rss %.0f\n", valuesTagged(fileBytes(u"/proc/self/status"_s), "VmRSS:")[0]);
        if (done < soakAttempts)
            QTimer::singleShot(0, tick);
        else
            QCoreApplication::quit();
    };
    QTimer::singleShot(0, tick);
    return QCoreApplication::exec();
}

// --time-out METHOD HOST RUNS: presses Start against the host and prints "s N"
// for each run that ends in "could not connect"; the table shows the others missing.
int timeOutChild(const QStringList &arguments)
{
    Rig rig({arguments.value(1)});
    (arguments.value(0) == u"ftp" ? rig.window.ftp : rig.window.http)->setChecked(true);
    rig.window.show();
    for (int run = 0; run < arguments.value(2).toInt(); ++run) {
        const double ms = millisecondsOf([&] { rig.window.Command1_Click(); });
        if (rig.window.Label2->text().endsWith(u"could not connect"_s))
            std::printf("s %.3f\n", ms / 1e3);
        rig.window.Command3_Click();
    }
    return 0;
}
