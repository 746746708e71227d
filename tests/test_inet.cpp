// The transfer facility over libcurl, against real servers on 127.0.0.1.

#include "platform/Inet.h"
#include "support/ExternalServers.h"
#include "support/LocalHttpServer.h"

#include <QElapsedTimer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <array>

Q_DECLARE_METATYPE(Inet::Method)

using namespace Qt::StringLiterals;

namespace
{

const Inet::Method viaHttp = Inet::Method::Http;
const Inet::Method viaFtp = Inet::Method::Ftp;
// No DNS name holds a label of 64 characters: the resolver refuses this one
// without asking anyone, so only a proxy can be asked for it.
const QString nowhere = QString(64, u'a') + u".invalid"_s;

// A listener whose queue of unaccepted connections is full, so that a new
// connection stays in its handshake.
class FullListener
{
public:
    FullListener()
    {
        server_.setListenBacklogSize(0);
        if (!server_.listen(QHostAddress::LocalHost, 0))
            qFatal("cannot listen on 127.0.0.1");
        server_.pauseAccepting();
        for (QTcpSocket &filler : fillers_)
            filler.connectToHost(QHostAddress::LocalHost, server_.serverPort());
    }
    QString url() const { return u"http://127.0.0.1:%1/"_s.arg(server_.serverPort()); }

private:
    QTcpServer server_;
    std::array<QTcpSocket, 4> fillers_;
};

QString redirectTo(const QString &location)
{
    return u"/redirect?to="_s + QString::fromLatin1(QUrl::toPercentEncoding(location));
}

// A redirect that takes `hops` more redirects to reach /html.
QString redirectChain(int hops)
{
    return hops == 0 ? u"/html"_s : redirectTo(redirectChain(hops - 1));
}

void setProxyEnvironment(const QByteArray &proxy, const QByteArray &exempt)
{
    for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "ftp_proxy", "ALL_PROXY"})
        qputenv(name, proxy);
    for (const char *name : {"no_proxy", "NO_PROXY"})
        qputenv(name, exempt);
}

} // namespace

class InetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(http.isListening());
        ftp.putFile(u"eight.txt"_s, QByteArray(8, ' '));
        QVERIFY2(ftp.start(), qPrintable(ftp.why()));
    }

    void init()
    {
        inet = std::make_unique<CurlInet>();
        inet->RequestTimeout = 15; // longer than any test waits
    }
    void cleanup() { setProxyEnvironment({}, {}); }

    void documentsAsServed_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<std::optional<QString>>("document");
        const std::optional<QString> fails;
        QTest::newRow("html") << http.url(u"/html"_s) << std::optional(u"<html>"_s);
        QTest::newRow("empty") << http.url(u"/page"_s) << std::optional(QString());
        QTest::newRow("NUL bytes stay NUL")
            << http.url(u"/page?hex=000000"_s) << std::optional(QString(3, QChar()));
        // Bytes that are no UTF-8 read as a character above every ASCII one.
        QTest::newRow("no UTF-8") << http.url(u"/page?hex=ff20"_s) << std::optional(u"\ufffd "_s);
        QTest::newRow("404 with a page") << http.url(u"/nothing-here"_s) << fails;
        QTest::newRow("502 with a page")
            << http.url(u"/page?status=502&hex=3c68746d6c3e"_s) << fails;
        QTest::newRow("redirect loop") << http.url(u"/loop"_s) << fails;
        QTest::newRow("five redirects") << http.url(redirectChain(5)) << std::optional(u"<html>"_s);
        QTest::newRow("six redirects") << http.url(redirectChain(6)) << fails;
        QTest::newRow("closed mid-body") << http.url(u"/cut-short"_s) << fails;
        QTest::newRow("cut at 1 MiB")
            << http.url(u"/endless"_s)
            << std::optional(u"<html>"_s + QString(1024 * 1024 - 6, u'x'));
        // An address without a scheme gets the method's; one with a scheme keeps it.
        QTest::newRow("bare, by HTTP") << http.address(u"/html"_s) << std::optional(u"<html>"_s);
        QTest::newRow("FTP in capitals")
            << u"FTP://"_s + ftp.address() + u"/eight.txt"_s << std::optional(QString(8, u' '));
        QTest::newRow("redirect to FTP")
            << http.url(redirectTo(u"ftp://"_s + ftp.address() + u"/eight.txt"_s))
            << std::optional(QString(8, u' '));
        QTest::newRow("redirect to file:")
            << http.url(redirectTo(u"file:///etc/hostname"_s)) << fails;
        QTest::newRow("redirect to dict:")
            << http.url(redirectTo(u"dict://"_s + http.address(u"/"_s))) << fails;
        QTest::newRow("NUL in the address") << http.url(u"/html"_s) + QChar() + u"x"_s << fails;
        QTest::newRow("line break in the address") << http.url(u"/html\r\nX: y"_s) << fails;
    }

    void documentsAsServed()
    {
        QFETCH(QString, address);
        QFETCH(std::optional<QString>, document);
        QCOMPARE(inet->OpenURL(address), document);
    }

    void aBareAddressGetsTheMethodsScheme()
    {
        inet->Protocol = viaFtp;
        QCOMPARE(inet->OpenURL(ftp.address() + u"/eight.txt"_s), QString(8, u' '));
        QVERIFY(inet->OpenURL(ftp.address()).value_or(QString()).contains(u"eight.txt"));
        QCOMPARE(inet->OpenURL(ftp.address() + u"/missing.txt"_s), std::nullopt);
        QCOMPARE(inet->OpenURL(http.url(u"/html"_s)), u"<html>"_s);
    }

    void otherSchemesAreNeverFetched()
    {
        const int visits = http.connections();
        for (const QString &scheme : {u"file"_s, u"FILE"_s, u"dict"_s, u"gopher"_s, u"telnet"_s,
                                      u"ldap"_s, u"smb"_s, u"tftp"_s, u"ws"_s}) {
            for (const Inet::Method method : {viaHttp, viaFtp}) {
                inet->Protocol = method;
                const QString target =
                    scheme.toLower() == u"file" ? u"/etc/hostname"_s : http.address(u"/html"_s);
                QVERIFY2(!inet->OpenURL(scheme + u"://"_s + target), qPrintable(scheme));
            }
        }
        QCOMPARE(http.connections(), visits);
    }

    void certificatesAreVerified()
    {
        LocalHttpServer secure(localTlsConfiguration());
        // The server is sound: a client that trusts its certificate gets the page.
        QSslSocket trusting;
        QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
        trust.addCaCertificate(localCertificate());
        trusting.setSslConfiguration(trust);
        trusting.connectToHostEncrypted(u"127.0.0.1"_s, secure.port());
        QTRY_VERIFY(trusting.isEncrypted());
        trusting.write("GET /html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QTRY_VERIFY(trusting.peek(1024).endsWith("<html>"));

        QCOMPARE(inet->OpenURL(secure.url(u"/html"_s)), std::nullopt);
        QCOMPARE(secure.connections(), 2);
    }

    void theTimeOutCoversTheWholeRequest_data()
    {
        QTest::addColumn<Inet::Method>("method");
        QTest::addColumn<QString>("address");
        QTest::newRow("no connection") << viaHttp << full.url();
        QTest::newRow("no answer") << viaHttp << http.address(u"/hang"_s);
        // A byte every second: the transfer is never idle for long.
        QTest::newRow("answer dripping") << viaHttp << http.address(u"/drip"_s);
        QTest::newRow("no FTP greeting") << viaFtp << http.address(QString());
    }

    // The window keeps handling its events meanwhile.
    void theTimeOutCoversTheWholeRequest()
    {
        QFETCH(Inet::Method, method);
        QFETCH(QString, address);
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(10);
        inet->Protocol = method;
        inet->RequestTimeout = 2;
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(inet->OpenURL(address), std::nullopt);
        QVERIFY2(elapsed.elapsed() >= 1900, "not before the time-out");
        QVERIFY2(elapsed.elapsed() < 3500, "at the time-out, not at twice it");
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
    }

    void cancelEndsATransferInAnyPhase_data()
    {
        QTest::addColumn<Inet::Method>("method");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("proxied");
        QTest::newRow("connecting") << viaHttp << full.url() << false;
        QTest::newRow("waiting for the answer") << viaHttp << http.url(u"/hang"_s) << false;
        QTest::newRow("reading the body") << viaHttp << http.url(u"/drip"_s) << false;
        QTest::newRow("FTP greeting") << viaFtp << http.address(QString()) << false;
        QTest::newRow("through a proxy") << viaHttp << u"http://"_s + nowhere + u"/hang"_s << true;
    }

    void cancelEndsATransferInAnyPhase()
    {
        QFETCH(Inet::Method, method);
        QFETCH(QString, address);
        QFETCH(bool, proxied);
        inet->Protocol = method;
        inet->Proxy = http.address(QString());
        inet->AccessType = proxied ? Inet::NamedProxy : Inet::Direct;
        QTimer::singleShot(300, this, [this] { inet->Cancel(); });
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(inet->OpenURL(address), std::nullopt);
        QVERIFY2(elapsed.elapsed() < 2000, "ended by the cancel, not the time-out");
        // The facility is ready for the next fetch at once.
        inet->AccessType = Inet::Direct;
        QCOMPARE(inet->OpenURL(http.url(u"/html"_s)), u"<html>"_s);
    }

    void oneFetchAtATime()
    {
        std::optional<QString> nested = u"not asked"_s;
        QTimer::singleShot(100, this, [&] { nested = inet->OpenURL(http.url(u"/html"_s)); });
        QCOMPARE(inet->OpenURL(http.url(u"/slow"_s)), u"<html>"_s);
        QCOMPARE(nested, std::nullopt);
    }

    void aNamedProxyCarriesEveryRequest_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("asked"); // empty: nothing is asked of anyone
        const QString proxy = http.address(QString());
        const QString away = u"http://"_s + nowhere + u"/html"_s;
        QTest::newRow("host:port") << proxy << away << away;
        QTest::newRow("with its scheme") << u"http://"_s + proxy << away << away;
        QTest::newRow("for FTP") << proxy << u"ftp://"_s + nowhere + u"/html"_s
                                 << u"ftp://"_s + nowhere + u"/html"_s;
        QTest::newRow("exempt by the environment")
            << proxy << http.url(u"/html"_s) << http.url(u"/html"_s);
        QTest::newRow("down") << u"127.0.0.1:1"_s << http.url(u"/html"_s) << QString();
        QTest::newRow("NUL before") << QChar() + proxy << away << QString();
        QTest::newRow("NUL after") << proxy + QChar() + u"x"_s << away << QString();
    }

    void aNamedProxyCarriesEveryRequest()
    {
        QFETCH(QString, written);
        QFETCH(QString, address);
        QFETCH(QString, asked);
        setProxyEnvironment({}, "127.0.0.1,localhost,.invalid");
        inet->Proxy = written;
        inet->AccessType = Inet::NamedProxy;
        const int requests = http.requests.size();
        QCOMPARE(inet->OpenURL(address),
                 asked.isEmpty() ? std::nullopt : std::optional(u"<html>"_s));
        QCOMPARE(http.requests.mid(requests), asked.isEmpty() ? QStringList() : QStringList{asked});
    }

    void directMeansDirectWhateverTheEnvironmentSays()
    {
        setProxyEnvironment("http://127.0.0.1:1", {});
        inet->Proxy = u"127.0.0.1:1"_s;
        inet->AccessType = Inet::Direct;
        QCOMPARE(inet->OpenURL(http.url(u"/html"_s)), u"<html>"_s);
    }

private:
    LocalHttpServer http;
    FullListener full;
    FtpServer ftp;
    std::unique_ptr<CurlInet> inet;
};

QTEST_MAIN(InetTest)
#include "test_inet.moc"
