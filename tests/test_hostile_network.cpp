// Servers that misbehave on purpose: each attempt on one must end by itself
// or at the time-out, with the process's memory flat and its event loop
// running, and count as the judgement says.

#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace
{

// Far above what a fetch that reads at most 1 MiB may need, far below what
// holding a flood would take.
constexpr qint64 memoryBoundKiB = 32 * 1024;
// The window's own time-out is 15 seconds; an attempt that ends on its own
// ends long before it.
constexpr int endsOnItsOwnMs = 5000;
constexpr int tickMs = 10;
// The event loop runs while a fetch waits: at least one tick in every
// 100 ms, ten times fewer than an idle loop gives.
constexpr int msPerTickAtLeast = 100;
// Each server takes its time to answer, so that every fetch it serves waits
// long enough for a stalled event loop to show.
constexpr int serverLatencyMs = 250;

// No DNS name can hold a label longer than 63 characters, so the resolver
// refuses this one without sending a query anywhere.
const QString unresolvableHost = QString(64, u'a') + u".invalid"_s;
// A privileged port that nothing here listens on.
const QString deadPort = u"127.0.0.1:1"_s;

// A field of /proc/self/status, in KiB.
qint64 statusKiB(QByteArrayView field)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// What a fetch costs the process: the peak of its resident memory over the
// memory it held before, the ticks of a short timer, and the time taken.
class FetchWatch
{
public:
    FetchWatch()
    {
        QObject::connect(&ticker_, &QTimer::timeout, &ticker_, [this] { ++ticks_; });
    }
    // False when the kernel would not reset the peak.
    bool start()
    {
        baselineKiB_ = statusKiB("VmRSS:");
        QFile clearRefs(u"/proc/self/clear_refs"_s);
        // "5" resets the peak of the resident memory to what is resident now.
        const bool reset = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
        ticker_.start(tickMs);
        elapsed_.start();
        return reset && baselineKiB_ > 0;
    }
    void stop()
    {
        elapsedMs_ = elapsed_.elapsed();
        ticker_.stop();
        peakKiB_ = statusKiB("VmHWM:");
    }
    qint64 growthKiB() const { return peakKiB_ - baselineKiB_; }
    qint64 elapsedMs() const { return elapsedMs_; }
    int ticks() const { return ticks_; }
    qint64 ticksAtLeast() const { return elapsedMs_ / msPerTickAtLeast; }
    QString report() const
    {
        return QStringLiteral("%1 ms, %2 ticks, %3 KiB more at the peak")
            .arg(elapsedMs_)
            .arg(ticks_)
            .arg(growthKiB());
    }

private:
    QTimer ticker_;
    QElapsedTimer elapsed_;
    int ticks_ = 0;
    qint64 baselineKiB_ = 0;
    qint64 peakKiB_ = 0;
    qint64 elapsedMs_ = 0;
};

// An FTP server that takes any login and then never answers again.
class StallingFtpServer
{
public:
    StallingFtpServer()
    {
        QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, [this] {
            while (QTcpSocket *socket = server_.nextPendingConnection())
                greet(socket);
        });
        server_.listen(QHostAddress::LocalHost, 0);
    }
    bool isListening() const { return server_.isListening(); }
    QString address() const { return u"127.0.0.1:"_s + QString::number(server_.serverPort()); }
    int logins() const { return logins_; }

private:
    void greet(QTcpSocket *socket)
    {
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { reply(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->write("220 Ready\r\n");
    }
    void reply(QTcpSocket *socket)
    {
        while (socket->canReadLine()) {
            const QByteArray command = socket->readLine().left(4).toUpper();
            if (command == "USER") {
                socket->write("331 Password, please\r\n");
            } else if (command == "PASS") {
                socket->write("230 Logged in\r\n");
                ++logins_;
            }
        }
    }

    QTcpServer server_;
    int logins_ = 0;
};

QString redirectPath(const QString &location)
{
    return u"/redirect?to="_s + QString::fromLatin1(QUrl::toPercentEncoding(location));
}

} // namespace

class HostileNetworkTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(http.isListening());
        // Where TLS is expected, this server answers the hello in plain text.
        http.refuseWhatIsNotHttp();
        http.answerAfter(serverLatencyMs);
    }

    void init()
    {
        rig = std::make_unique<TestRig>();
        w = &rig->window();
    }
    void cleanup() { rig.reset(); }

    void anAttemptOnAHostileServerEndsByItself_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<int>("connections");
        QTest::addColumn<bool>("succeeds");
        const auto bare = [this](const QString &path) { return http.address(path); };
        const QString none;

        QTest::newRow("a header that never ends")
            << bare(u"/endless-header"_s) << none << 1 << false;
        QTest::newRow("10 MiB of headers") << bare(u"/header-flood"_s) << none << 1 << false;
        QTest::newRow("10 GB of NUL bytes") << bare(u"/ten-gigabytes-nul"_s) << none << 1 << false;
        QTest::newRow("closed mid-body") << bare(u"/cut-short"_s) << none << 1 << false;
        QTest::newRow("closed mid-chunk") << bare(u"/cut-short-chunked"_s) << none << 1 << false;
        QTest::newRow("redirect to file:///etc/passwd")
            << bare(redirectPath(u"file:///etc/passwd"_s)) << none << 1 << false;
        QTest::newRow("redirect to FTP on a dead port")
            << bare(redirectPath(u"ftp://"_s + deadPort + u"/"_s)) << none << 1 << false;
        QTest::newRow("redirect to an unresolvable name")
            << bare(redirectPath(u"http://"_s + unresolvableHost + u"/"_s)) << none << 1 << false;
        QTest::newRow("HTTPS to a plain-text port")
            << u"https://"_s + bare(u"/html"_s) << none << 1 << false;
        QTest::newRow("FTPS to a plain-text port")
            << u"ftps://"_s + bare(u"/"_s) << none << 1 << false;
        QTest::newRow("a proxy that refuses") << bare(u"/html"_s) << deadPort << 0 << false;
        // The proxy cannot reach the dead port and says so.
        QTest::newRow("a proxy that answers 502")
            << deadPort + u"/bad-gateway"_s << bare(QString()) << 1 << false;

        // The document read so far is judged: 1 MiB of a page is a page.
        QTest::newRow("10 GB of a page") << bare(u"/ten-gigabytes"_s) << none << 1 << true;
        // Bytes that are no UTF-8 are judged as the raw bytes: above every
        // ASCII character, so the server has answered.
        for (const char *hex : {"c080", "eda080", "f4908080", "80", "e282", "feff"}) {
            QTest::addRow("no UTF-8: %s", hex)
                << bare(u"/bytes?hex="_s + QLatin1String(hex)) << none << 1 << true;
        }
        QTest::newRow("line break, then no UTF-8")
            << bare(u"/bytes?hex=0aff"_s) << none << 1 << false;
        // Seven blanks and then anything sort after seven blanks, a NUL too.
        QTest::newRow("seven blanks, then NUL")
            << bare(u"/bytes?hex=2020202020202000"_s) << none << 1 << true;
    }

    void anAttemptOnAHostileServerEndsByItself()
    {
        QFETCH(QString, host);
        QFETCH(QString, proxy);
        QFETCH(int, connections);
        QFETCH(bool, succeeds);
        w->List1->clear();
        w->List1->addItem(host);
        w->Check1->setChecked(!proxy.isEmpty());
        w->Text1->setText(proxy);
        const int connectionsBefore = http.connections();

        FetchWatch watch;
        QVERIFY(watch.start());
        w->Command1_Click();
        watch.stop();

        QVERIFY2(watch.elapsedMs() < endsOnItsOwnMs, qPrintable(watch.report()));
        QVERIFY2(watch.growthKiB() < memoryBoundKiB, qPrintable(watch.report()));
        QVERIFY2(watch.ticks() >= watch.ticksAtLeast(), qPrintable(watch.report()));
        QCOMPARE(http.connections() - connectionsBefore, connections);
        QCOMPARE(w->good, succeeds ? 1 : 0);
        QCOMPARE(w->bad, succeeds ? 0 : 1);
        QCOMPARE(w->Label2->text(), succeeds ? u"Status: successfully connected at 12:34"_s
                                             : u"Status: could not connect"_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: "_s + QString::number(w->bad));
        QVERIFY(w->Timer1->isActive());
    }

    void anFtpServerThatStallsAfterTheLoginFailsAtTheTimeOut()
    {
        StallingFtpServer ftp;
        QVERIFY(ftp.isListening());
        CurlInet inet;
        inet.Protocol = Inet::Method::Ftp;
        inet.RequestTimeout = 1;

        FetchWatch watch;
        QVERIFY(watch.start());
        const std::optional<QString> document = inet.OpenURL(ftp.address());
        watch.stop();

        QCOMPARE(document, std::nullopt);
        QCOMPARE(ftp.logins(), 1);
        QVERIFY2(watch.elapsedMs() >= 900, qPrintable(watch.report()));
        QVERIFY2(watch.elapsedMs() < 1000 + endsOnItsOwnMs, qPrintable(watch.report()));
        QVERIFY2(watch.growthKiB() < memoryBoundKiB, qPrintable(watch.report()));
        QVERIFY2(watch.ticks() >= watch.ticksAtLeast(), qPrintable(watch.report()));
    }

private:
    LocalHttpServer http;
    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
};

QTEST_MAIN(HostileNetworkTest)
#include "test_hostile_network.moc"
