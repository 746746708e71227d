// What only the transfer facility itself shows: the time-out, Cancel, one
// fetch at a time, certificates, the start of a long document, why a fetch fails.

#include "platform/net/Inet.h"
#include "support/LocalHttpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

using Outcome = std::variant<QString, FetchError>;
const auto failed = [](FetchFailure reason) { return Outcome(FetchError{reason}); };

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

    void init() { inet = std::make_unique<CurlInet>(); }

    // No connection, no answer, a byte every second, no FTP greeting, and a
    // name only the proxy can look up: the fetch fails at the time-out, while
    // the caller's events keep coming, or at once on Cancel.
    void theTimeOutAndCancelEndAFetchInAnyPhase()
    {
        const QString nowhere = u"http://"_s + QString(64, u'a') + u".invalid/hang"_s;
        for (const QString &address :
             {u"http://127.0.0.1:%1/"_s.arg(full.serverPort()), http.url(u"/hang"_s),
              http.url(u"/drip"_s), u"ftp://"_s + http.address(), nowhere}) {
            FetchRequest request{.address = address, .timeout = std::chrono::seconds(2)};
            if (address == nowhere)
                request.proxy = http.address();
            int ticks = 0;
            QTimer ticker;
            connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
            ticker.start(10);
            QElapsedTimer elapsed;
            elapsed.start();
            QCOMPARE(inet->OpenURL(request).outcome, failed(FetchFailure::TimedOut));
            QVERIFY2(elapsed.elapsed() >= 1900, qPrintable(address));
            QVERIFY2(elapsed.elapsed() < 3500, "at the time-out, not at twice it");
            QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
            request.timeout = std::chrono::seconds(15);
            QTimer::singleShot(300, this, [this] { inet->Cancel(); });
            elapsed.start();
            QCOMPARE(inet->OpenURL(request).outcome, failed(FetchFailure::Cancelled));
            QVERIFY2(elapsed.elapsed() < 2000, qPrintable(address));
            QCOMPARE(inet->OpenURL({http.url(u"/html"_s)}).outcome,
                     Outcome(u"<html>"_s)); // ready at once
        }
        QCOMPARE(http.requests.filter(u".invalid/hang"_s).size(), 2);
    }

    // On the caller's thread: no thread is started for it.
    void oneFetchAtATime()
    {
        const auto threads = [] { return QDir(u"/proc/self/task"_s).count(); };
        const qsizetype before = threads();
        Outcome nested = u"not asked"_s;
        qsizetype during = 0;
        QTimer::singleShot(100, this, [&] {
            nested = inet->OpenURL({http.url(u"/html"_s)}).outcome;
            during = threads();
        });
        QCOMPARE(inet->OpenURL({http.url(u"/slow"_s)}).outcome, Outcome(u"<html>"_s));
        QCOMPARE(nested, failed(FetchFailure::Busy));
        QCOMPARE(during, before);
    }

    // A client that trusts the certificate is served; the facility is not.
    void certificatesAreVerified()
    {
        LocalHttpServer secure(localTlsConfiguration());
        QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
        trust.addCaCertificate(localTlsConfiguration().localCertificate());
        QSslSocket trusting;
        trusting.setSslConfiguration(trust);
        trusting.connectToHostEncrypted(u"127.0.0.1"_s, secure.port());
        QTRY_VERIFY(trusting.isEncrypted());
        QCOMPARE(inet->OpenURL({secure.url(u"/html"_s)}).outcome, failed(FetchFailure::Tls));
        QCOMPARE(secure.connections(), 2);
    }

    // A label of 64 characters is no DNS name: no query leaves the machine.
    void aFetchGivesTheDocumentOrWhyNot()
    {
        const std::pair<QString, Outcome> rows[] = {
            {http.url(u"/ten-gigabytes"_s), u"<html>"_s + QString(1024 - 6, u'x')},
            {http.url(u"/missing"_s), FetchError{FetchFailure::HttpStatus, 404}},
            {u"127.0.0.1:1"_s, failed(FetchFailure::Refused)},
            {QString(64, u'a') + u".invalid"_s, failed(FetchFailure::NameNotFound)},
            {u"file:///etc/hostname"_s, failed(FetchFailure::SchemeRefused)},
            {http.url(u"/redirect?to=file:///etc/hostname"_s), failed(FetchFailure::SchemeRefused)},
            {http.url(u"/html"_s) + QChar() + u"x"_s, failed(FetchFailure::BadAddress)},
        };
        for (const auto &[address, expected] : rows)
            QVERIFY2(inet->OpenURL({address}).outcome == expected, qPrintable(address));
        // A blank before the proxy is a slip, not a name to look up.
        QCOMPARE(inet->OpenURL({.address = http.url(u"/html"_s), .proxy = u' ' + http.address()})
                     .outcome,
                 failed(FetchFailure::BadAddress));
    }

private:
    LocalHttpServer http;
    QTcpServer full;
    QTcpSocket fillers[4];
    std::unique_ptr<CurlInet> inet;
};

QTEST_MAIN(InetTest)
#include "test_inet.moc"
