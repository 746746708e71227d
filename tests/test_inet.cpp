// The transfer facility over libcurl, against real servers on 127.0.0.1.

#include "platform/Inet.h"
#include "support/ExternalServers.h"
#include "support/LocalHttpServer.h"

#include <QElapsedTimer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <array>

Q_DECLARE_METATYPE(Inet::Method)

using namespace Qt::StringLiterals;

namespace
{

constexpr qsizetype mebibyte = 1024 * 1024;
// Far longer than any test waits: a fetch that ends sooner ended for another reason.
constexpr int longTimeout = 15;

// Sets proxy variables of the environment for the life of the object.
class ProxyEnvironment
{
public:
    explicit ProxyEnvironment(const QByteArray &proxy, const QByteArray &exempt = {})
    {
        for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "ftp_proxy", "ALL_PROXY", "all_proxy"})
            qputenv(name, proxy);
        for (const char *name : {"no_proxy", "NO_PROXY"})
            qputenv(name, exempt);
    }
    ~ProxyEnvironment()
    {
        for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "ftp_proxy", "ALL_PROXY", "all_proxy", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
    }
};

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
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server_.serverPort()); }

private:
    QTcpServer server_;
    std::array<QTcpSocket, 4> fillers_;
};

// A redirect that takes `hops` more redirects to reach /html.
QString redirectChain(int hops)
{
    QString path = QStringLiteral("/html");
    for (int hop = 0; hop < hops; ++hop)
        path = QStringLiteral("/redirect?to=") + QString::fromLatin1(QUrl::toPercentEncoding(path));
    return path;
}

} // namespace

class InetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(http.isListening());
        ftp.putFile(QStringLiteral("eight.txt"), QByteArray(8, ' '));
        QVERIFY2(ftp.start(), qPrintable(ftp.why()));
        QVERIFY2(proxy.start(), qPrintable(proxy.why()));
    }

    void init()
    {
        inet = std::make_unique<CurlInet>();
        inet->RequestTimeout = longTimeout;
    }

    void documentsAsServed_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("fetched");
        QTest::addColumn<QString>("document");
        const auto text = [](const char *document) { return QString::fromLatin1(document); };
        QTest::newRow("seven blanks") << "/blanks7" << true << text("       ");
        QTest::newRow("eight blanks") << "/blanks8" << true << text("        ");
        QTest::newRow("html") << "/html" << true << text("<html>");
        QTest::newRow("empty") << "/empty" << true << QString();
        QTest::newRow("line break first") << "/linebreak" << true << text("\n<html>");
        QTest::newRow("NUL bytes stay NUL") << "/nul" << true << QString(8, QChar(0));
        QTest::newRow("404 with a page") << "/missing" << false << QString();
        QTest::newRow("unknown path") << "/nothing-here" << false << QString();
        QTest::newRow("redirect loop") << "/loop" << false << QString();
        QTest::newRow("five redirects") << redirectChain(5) << true << text("<html>");
        QTest::newRow("six redirects") << redirectChain(6) << false << QString();
    }

    void documentsAsServed()
    {
        QFETCH(QString, path);
        QFETCH(bool, fetched);
        QFETCH(QString, document);
        const std::optional<QString> got = inet->OpenURL(http.url(path));
        QCOMPARE(got.has_value(), fetched);
        if (fetched)
            QCOMPARE(*got, document);
    }

    void redirectToAnotherLocalAddress()
    {
        LocalHttpServer other;
        const QString path = QStringLiteral("/redirect?to=") +
                             QString::fromLatin1(QUrl::toPercentEncoding(other.url(u"/html"_s)));
        QCOMPARE(inet->OpenURL(http.url(path)), QStringLiteral("<html>"));
        QCOMPARE(other.requests, QStringList{QStringLiteral("/html")});
    }

    void bytesThatAreNoUtf8SortAfterEveryAsciiCharacter()
    {
        const std::optional<QString> got = inet->OpenURL(http.url(u"/binary"_s));
        QVERIFY(got);
        QVERIFY(got->endsWith(u" <html>"));
        QCOMPARE(got->front(), QChar(QChar::ReplacementCharacter));
    }

    void aLongDocumentIsCutAtOneMebibyte()
    {
        const std::optional<QString> got = inet->OpenURL(http.url(u"/endless"_s));
        QVERIFY(got);
        QCOMPARE(got->size(), mebibyte);
        QVERIFY(got->startsWith(u"<html>xxx"));
    }

    void aBareAddressGetsTheMethodsScheme()
    {
        inet->Protocol = Inet::Method::Http;
        QCOMPARE(inet->OpenURL(http.address(u"/html"_s)), QStringLiteral("<html>"));

        inet->Protocol = Inet::Method::Ftp;
        const std::optional<QString> listing = inet->OpenURL(ftp.address());
        QVERIFY(listing);
        QVERIFY2(listing->contains(u"eight.txt"), qPrintable(*listing));
        QCOMPARE(inet->OpenURL(ftp.address() + u"/eight.txt"_s), QString(8, u' '));
        QVERIFY(!inet->OpenURL(ftp.address() + u"/missing.txt"_s));
    }

    void anAddressWithASchemeIsUsedAsItStands()
    {
        inet->Protocol = Inet::Method::Ftp;
        QCOMPARE(inet->OpenURL(http.url(u"/html"_s)), QStringLiteral("<html>"));
        inet->Protocol = Inet::Method::Http;
        QCOMPARE(inet->OpenURL(u"FTP://"_s + ftp.address() + u"/eight.txt"_s), QString(8, u' '));
    }

    void otherSchemesAreNeverFetched_data()
    {
        QTest::addColumn<QString>("scheme");
        for (const char *scheme :
             {"file", "FILE", "dict", "gopher", "telnet", "smb", "ldap", "imap", "pop3", "smtp",
              "rtsp", "scp", "sftp", "tftp", "mqtt", "ws", "javascript"})
            QTest::newRow(scheme) << QString::fromLatin1(scheme);
    }

    void otherSchemesAreNeverFetched()
    {
        QFETCH(QString, scheme);
        // A file that would pass as a document, and a server that counts visits.
        QTemporaryFile page;
        QVERIFY(page.open());
        QVERIFY(page.write("<html>") == 6);
        page.close();
        const QString target = scheme.compare(u"file", Qt::CaseInsensitive) == 0
                                   ? page.fileName()
                                   : http.address(u"/html"_s);
        const int visits = http.connections();
        QElapsedTimer elapsed;
        elapsed.start();
        for (const Inet::Method method : {Inet::Method::Http, Inet::Method::Ftp}) {
            inet->Protocol = method;
            QVERIFY(!inet->OpenURL(scheme + u"://"_s + target));
        }
        QVERIFY2(elapsed.elapsed() < 1000, "failed at once");
        QCOMPARE(http.connections(), visits);
    }

    void redirectsStayWithinTheFourSchemes()
    {
        QTemporaryFile page;
        QVERIFY(page.open());
        QVERIFY(page.write("<html>") == 6);
        page.close();
        const auto redirectTo = [this](const QString &location) {
            return http.url(u"/redirect?to="_s +
                            QString::fromLatin1(QUrl::toPercentEncoding(location)));
        };
        QVERIFY(!inet->OpenURL(redirectTo(u"file://"_s + page.fileName())));
        const int visits = http.connections();
        QVERIFY(!inet->OpenURL(redirectTo(u"dict://"_s + http.address(u"/d"_s))));
        QCOMPARE(http.connections(), visits + 1);
        QCOMPARE(inet->OpenURL(redirectTo(u"ftp://"_s + ftp.address() + u"/eight.txt"_s)),
                 QString(8, u' '));
    }

    void certificatesAreVerified()
    {
        LocalHttpServer secure(localTlsConfiguration());
        QVERIFY(secure.isListening());
        // The server itself is sound: a client that trusts its certificate gets the page.
        QSslSocket trusting;
        QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
        trust.addCaCertificate(localCertificate());
        trusting.setSslConfiguration(trust);
        trusting.connectToHostEncrypted(QStringLiteral("127.0.0.1"), secure.port());
        QTRY_VERIFY(trusting.isEncrypted());
        trusting.write("GET /html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QTRY_VERIFY(trusting.peek(1024).endsWith("<html>"));

        QVERIFY(!inet->OpenURL(secure.url(u"/html"_s)));
        QCOMPARE(secure.connections(), 2);
    }

    void theTimeOutCoversTheWholeRequest_data()
    {
        QTest::addColumn<Inet::Method>("method");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("seconds");
        const Inet::Method http_ = Inet::Method::Http;
        QTest::newRow("HTTP, no connection") << http_ << full.url() << 1;
        QTest::newRow("HTTP, no answer") << http_ << http.address(u"/hang"_s) << 1;
        // A byte every second: the transfer is never idle for two.
        QTest::newRow("HTTP, answer dripping") << http_ << http.address(u"/drip"_s) << 2;
        // The HTTP server never sends an FTP greeting.
        QTest::newRow("FTP, no greeting") << Inet::Method::Ftp << http.address(QString()) << 1;
    }

    void theTimeOutCoversTheWholeRequest()
    {
        QFETCH(Inet::Method, method);
        QFETCH(QString, address);
        QFETCH(int, seconds);
        inet->Protocol = method;
        inet->RequestTimeout = seconds;
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!inet->OpenURL(address));
        QVERIFY2(elapsed.elapsed() >= seconds * 1000 - 100, "not before the time-out");
        QVERIFY2(elapsed.elapsed() < seconds * 1000 + 4000, "soon after the time-out");
    }

    void cancelEndsATransferInAnyPhase_data()
    {
        QTest::addColumn<Inet::Method>("method");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("proxied");
        const Inet::Method http_ = Inet::Method::Http;
        QTest::newRow("connecting") << http_ << full.url() << false;
        QTest::newRow("waiting for the answer") << http_ << http.url(u"/hang"_s) << false;
        QTest::newRow("reading the body") << http_ << http.url(u"/drip"_s) << false;
        QTest::newRow("TLS handshake")
            << http_ << u"https://"_s + http.address(u"/hang"_s) << false;
        QTest::newRow("FTP greeting") << Inet::Method::Ftp << http.address(QString()) << false;
        QTest::newRow("through the proxy") << http_ << http.url(u"/hang"_s) << true;
    }

    void cancelEndsATransferInAnyPhase()
    {
        QFETCH(Inet::Method, method);
        QFETCH(QString, address);
        QFETCH(bool, proxied);
        inet->Protocol = method;
        inet->Proxy = proxy.address();
        inet->AccessType = proxied ? Inet::NamedProxy : Inet::Direct;
        QTimer::singleShot(300, this, [this] { inet->Cancel(); });
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!inet->OpenURL(address));
        QVERIFY2(elapsed.elapsed() < 3000, "ended by the cancel, not the time-out");
        // The facility is ready for the next fetch at once.
        QCOMPARE(inet->OpenURL(http.url(u"/html"_s)), QStringLiteral("<html>"));
    }

    void eventsAreHandledWhileAFetchWaits()
    {
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(10);
        inet->RequestTimeout = 1;
        QVERIFY(!inet->OpenURL(http.url(u"/hang"_s)));
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
    }

    void oneFetchAtATime()
    {
        std::optional<QString> nested = QStringLiteral("not asked");
        QTimer::singleShot(100, this, [&] { nested = inet->OpenURL(http.url(u"/html"_s)); });
        QCOMPARE(inet->OpenURL(http.url(u"/slow"_s)), QStringLiteral("<html>"));
        QCOMPARE(nested, std::nullopt);
    }

    void aNamedProxyCarriesTheRequest_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("path");
        QTest::newRow("host:port") << proxy.address() << u"/html?bare"_s;
        QTest::newRow("with its scheme") << u"http://"_s + proxy.address() << u"/html?scheme"_s;
    }

    void aNamedProxyCarriesTheRequest()
    {
        QFETCH(QString, written);
        QFETCH(QString, path);
        // Exemptions of the environment do not apply either.
        const ProxyEnvironment environment({}, "127.0.0.1,localhost");
        inet->Proxy = written;
        inet->AccessType = Inet::NamedProxy;
        const QString url = http.url(path);
        QCOMPARE(inet->OpenURL(url), QStringLiteral("<html>"));
        QVERIFY2(proxy.requestLines().contains(u"GET "_s + url + u" HTTP/1.1"_s),
                 qPrintable(proxy.requestLines().join(u'\n')));
    }

    void aNamedProxyThatIsDownFailsTheFetch()
    {
        inet->Proxy = QStringLiteral("127.0.0.1:1");
        inet->AccessType = Inet::NamedProxy;
        QVERIFY(!inet->OpenURL(http.url(u"/html"_s)));
    }

    void directMeansDirectWhateverTheEnvironmentSays()
    {
        const ProxyEnvironment environment("http://" + proxy.address().toLatin1());
        const QStringList before = proxy.requestLines();
        inet->Proxy = QStringLiteral("127.0.0.1:1");
        inet->AccessType = Inet::Direct;
        QCOMPARE(inet->OpenURL(http.url(u"/html"_s)), QStringLiteral("<html>"));
        QCOMPARE(proxy.requestLines(), before);
    }

private:
    LocalHttpServer http;
    FullListener full;
    FtpServer ftp;
    TinyProxy proxy;
    std::unique_ptr<CurlInet> inet;
};

QTEST_MAIN(InetTest)
#include "test_inet.moc"
