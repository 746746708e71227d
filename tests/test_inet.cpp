// The transfer facility over libcurl, against servers on 127.0.0.1.

#include "platform/net/Inet.h"
#include "support/LocalHttpServer.h"

#include <QElapsedTimer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace
{

// No DNS name holds a label of 64 characters: the resolver refuses this one
// without asking anyone, so only a proxy can be asked for it.
const QString nowhere = QString(64, u'a') + u".invalid"_s;

QString redirectTo(const QString &location)
{
    return u"/redirect?to="_s + QString::fromLatin1(QUrl::toPercentEncoding(location));
}

// A redirect that takes `hops` more redirects to reach /html.
QString redirectChain(int hops)
{
    return hops == 0 ? u"/html"_s : redirectTo(redirectChain(hops - 1));
}

} // namespace

class InetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A listener whose queue is full: a new connection stays in its handshake.
        full.setListenBacklogSize(0);
        QVERIFY(full.listen(QHostAddress::LocalHost, 0));
        full.pauseAccepting();
        for (QTcpSocket &filler : fillers)
            filler.connectToHost(QHostAddress::LocalHost, full.serverPort());
    }

    void init()
    {
        inet = std::make_unique<CurlInet>();
        inet->RequestTimeout = 15;                   // longer than any test waits
        qputenv("http_proxy", "http://127.0.0.1:1"); // never used
        qputenv("no_proxy", "127.0.0.1,.invalid");   // never used either
    }

    void documentsAsServed()
    {
        const std::optional<QString> fails;
        const QString html = u"<html>"_s;
        const std::pair<QString, std::optional<QString>> fetches[] = {
            {http.url(u"/html"_s), html},
            {http.address(u"/html"_s), html}, // an address without a scheme gets http://
            {u"HTTP://"_s + http.address(u"/html"_s), html},
            {http.url(u"/page"_s), QString()},
            {http.url(u"/page?hex=000000"_s), QString(3, QChar())},
            // Bytes that are no UTF-8 read as a character above every ASCII one.
            {http.url(u"/page?hex=ff20"_s), u"\ufffd "_s},
            {http.url(u"/nothing-here"_s), fails},
            {http.url(u"/page?status=502&hex=3c68746d6c3e"_s), fails},
            {http.url(u"/loop"_s), fails},
            {http.url(redirectChain(5)), html},
            {http.url(redirectChain(6)), fails},
            {http.url(u"/cut-short"_s), fails},
            {http.url(u"/ten-gigabytes"_s), html + QString(1024 * 1024 - 6, u'x')},
            {http.url(redirectTo(u"file:///etc/hostname"_s)), fails},
            {http.url(redirectTo(u"dict://"_s + http.address(u"/"_s))), fails},
            {http.url(u"/html"_s) + QChar() + u"x"_s, fails},
            {http.url(u"/html\r\nX: y"_s), fails}};
        for (const auto &[address, document] : fetches)
            QVERIFY2(inet->OpenURL(address) == document, qPrintable(address.left(200)));
    }

    void theFetchedSchemes()
    {
        const int visits = http.connections();
        for (const QString &scheme : {u"file"_s, u"FILE"_s, u"dict"_s, u"gopher"_s, u"telnet"_s,
                                      u"ldap"_s, u"smb"_s, u"tftp"_s, u"ws"_s}) {
            const bool isFile = scheme.toLower() == u"file";
            for (const Inet::Method method : {Inet::Method::Http, Inet::Method::Ftp}) {
                inet->Protocol = method;
                const QString target = isFile ? u"/etc/hostname"_s : http.address(u"/html"_s);
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

    // Meanwhile the window keeps handling its events.
    void theTimeOutCoversTheWholeRequest()
    {
        const QString fullUrl = u"http://127.0.0.1:%1/"_s.arg(full.serverPort());
        // No connection, no answer, a byte every second, no FTP greeting.
        for (const QString &address : {fullUrl, http.url(u"/hang"_s), http.url(u"/drip"_s),
                                       u"ftp://"_s + http.address(QString())}) {
            int ticks = 0;
            QTimer ticker;
            connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
            ticker.start(10);
            inet->RequestTimeout = 2;
            QElapsedTimer elapsed;
            elapsed.start();
            QCOMPARE(inet->OpenURL(address), std::nullopt);
            QVERIFY2(elapsed.elapsed() >= 1900, qPrintable(address));
            QVERIFY2(elapsed.elapsed() < 3500, "at the time-out, not at twice it");
            QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
        }
    }

    void cancelEndsATransferInAnyPhase()
    {
        const QString fullUrl = u"http://127.0.0.1:%1/"_s.arg(full.serverPort());
        inet->Proxy = http.address(QString());
        for (const QString &address :
             {fullUrl, http.url(u"/hang"_s), http.url(u"/drip"_s), u"ftp://"_s + http.address({}),
              u"http://"_s + nowhere + u"/hang"_s}) {
            inet->AccessType = address.contains(nowhere) ? Inet::NamedProxy : Inet::Direct;
            QTimer::singleShot(300, this, [this] { inet->Cancel(); });
            QElapsedTimer elapsed;
            elapsed.start();
            QCOMPARE(inet->OpenURL(address), std::nullopt);
            QVERIFY2(elapsed.elapsed() < 2000, qPrintable(address));
            // The facility is ready for the next fetch at once.
            QCOMPARE(inet->OpenURL(http.url(u"/html"_s)), u"<html>"_s);
        }
    }

    void oneFetchAtATime()
    {
        std::optional<QString> nested = u"not asked"_s;
        QTimer::singleShot(100, this, [&] { nested = inet->OpenURL(http.url(u"/html"_s)); });
        QCOMPARE(inet->OpenURL(http.url(u"/slow"_s)), u"<html>"_s);
        QCOMPARE(nested, std::nullopt);
    }

    // Whatever the environment says; the proxy text as written, or no fetch.
    void aNamedProxyCarriesEveryRequest()
    {
        const QString proxy = http.address(QString());
        const QString away = u"http://"_s + nowhere + u"/html"_s;
        const QString awayByFtp = u"ftp://"_s + nowhere + u"/html"_s;
        const QString local = http.url(u"/html"_s);
        // The proxy text, the address, what the proxy is asked for (empty: nothing).
        const std::tuple<QString, QString, QString> fetches[] = {
            {proxy, away, away},           {u"http://"_s + proxy, away, away},
            {proxy, awayByFtp, awayByFtp}, {proxy, local, local},
            {u"127.0.0.1:1"_s, local, {}}, {QChar() + proxy, away, {}},
            {u' ' + proxy, away, {}}, // blanks and line breaks are not trimmed away
            {proxy + u' ', away, {}},      {proxy + u"\r\n"_s, away, {}},
            {u'\n' + proxy, away, {}},     {proxy + QChar() + u"x"_s, away, {}}};
        inet->AccessType = Inet::NamedProxy;
        for (const auto &[written, address, asked] : fetches) {
            inet->Proxy = written;
            const qsizetype before = http.requests.size();
            const int connections = http.connections();
            const std::optional<QString> got = inet->OpenURL(address);
            QVERIFY(!asked.isEmpty() || http.connections() == connections);
            QVERIFY2(got == (asked.isEmpty() ? std::nullopt : std::optional(u"<html>"_s)),
                     qPrintable(written + u" for "_s + address));
            QCOMPARE(http.requests.mid(before),
                     asked.isEmpty() ? QStringList() : QStringList{asked});
        }
        inet->AccessType = Inet::Direct;
        QCOMPARE(inet->OpenURL(local), u"<html>"_s);
    }

private:
    LocalHttpServer http;
    QTcpServer full;
    QTcpSocket fillers[4];
    std::unique_ptr<CurlInet> inet;
};

QTEST_MAIN(InetTest)
#include "test_inet.moc"
