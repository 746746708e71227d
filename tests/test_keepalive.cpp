// The keep-alive cycle through the window, against servers on 127.0.0.1: a
// table of single attempts, then Start, Stop, the tick and the choice of host.

#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace
{

const QString succeeded = u"Status: successfully connected at 12:34"_s;
const QString failed = u"Status: could not connect"_s;

// A path that takes `hops` redirects to reach `to`.
QString redirectTo(QString to, int hops = 1)
{
    while (hops-- > 0)
        to = u"/redirect?to="_s + QString::fromLatin1(QUrl::toPercentEncoding(to));
    return to;
}

} // namespace

class KeepAliveTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(ftp.isListening());
        // Proxy settings of the environment never apply.
        qputenv("http_proxy", "http://127.0.0.1:1");
        qputenv("no_proxy", "127.0.0.1,.invalid");
    }

    void init()
    {
        rig = std::make_unique<TestRig>();
        w = &rig->window();
        useHosts({});
    }

    // The host, the proxy text (empty: none), the method; the connections the
    // local HTTP server took and the outcome.
    void anAttemptEndsByItself_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("connections");
        QTest::addColumn<bool>("succeeds");
        const auto row = [](const QString &name, const QString &host, int connections,
                            bool succeeds, const QString &proxy = {},
                            const QString &method = u"HTTP"_s) {
            QTest::newRow(qPrintable(name)) << host << proxy << method << connections << succeeds;
        };
        const auto at = [this](const QString &path) { return http.address(path); };
        const QString html = at(u"/html"_s), local = at({}), dead = u"127.0.0.1:1"_s;
        const QString nul(1, QChar()), failing = u"/page?status=502&hex=3c68746d6c3e"_s;
        // No DNS name holds a label of 64 characters: only a proxy can be asked for it.
        const QString nowhere = QString(64, u'a') + u".invalid/html"_s;
        // The document must sort after seven blanks.
        for (const QString &hex : {u"20202020202020"_s, u"+2020202020202020"_s,
                                   u"+2020202020202000"_s, QString(), u"+c080"_s, u"0aff"_s})
            row(u"bytes "_s + hex, at(u"/page?hex="_s + hex.mid(hex.startsWith(u'+'))), 1,
                hex.startsWith(u'+'));
        row(u"10 GB, judged at 1 MiB"_s, at(u"/ten-gigabytes"_s), 1, true);
        row(u"10 GB of NULs"_s, at(u"/ten-gigabytes-nul"_s), 1, false);
        // Addresses and schemes.
        row(u"HTTP://"_s, u"HTTP://"_s + html, 1, true);
        row(u"FTP from an FTP server"_s, ftp.address(u"/doc.html"_s), 0, true, {}, u"FTP"_s);
        row(u"NUL in the host"_s, html + nul + u"x"_s, 0, false);
        row(u"line break in the host"_s, at(u"/html\r\nX: y"_s), 0, false);
        row(u"64 KiB host"_s, at(u"/"_s + QString(64 * 1024, u'a')), 1, false);
        row(u"HTTPS to a plain port"_s, u"https://"_s + html, 1, false);
        for (const QString &method : {u"HTTP"_s, u"FTP"_s})
            for (const QString &address :
                 {u"file:///etc/hostname"_s, u"FILE:///etc/hostname"_s, u"dict://"_s + html,
                  u"gopher://"_s + html, u"telnet://"_s + html, u"ldap://"_s + html,
                  u"smb://"_s + html, u"tftp://"_s + html, u"ws://"_s + html})
                row(method + u' ' + address, address, 0, false, {}, method);
        // Servers that misbehave.
        row(u"404"_s, at(u"/missing"_s), 1, false);
        row(u"502"_s, at(failing), 1, false);
        row(u"5 redirects"_s, at(redirectTo(u"/html"_s, 5)), 6, true);
        row(u"6 redirects"_s, at(redirectTo(u"/html"_s, 6)), 6, false);
        for (const QString &to : {u"file:///etc/hostname"_s, u"dict://"_s + local,
                                  u"ftp://"_s + dead, u"http://"_s + nowhere})
            row(u"redirect to "_s + to, at(redirectTo(to)), 1, false);
        row(u"closed mid-body"_s, at(u"/cut-short"_s), 1, false);
        row(u"a header that never ends"_s, at(u"/endless-header"_s), 1, false);
        row(u"10 MiB of headers"_s, at(u"/header-flood"_s), 1, false);
        // Proxies, and proxy texts as written.
        row(u"a name only the proxy knows"_s, u"http://"_s + nowhere, 1, true, local);
        row(u"proxy with a scheme"_s, u"http://"_s + nowhere, 1, true, u"http://"_s + local);
        row(u"FTP through the proxy"_s, u"ftp://"_s + nowhere, 1, true, local, u"FTP"_s);
        row(u"a proxy that refuses"_s, html, 0, false, dead);
        row(u"a proxy that answers 502"_s, dead + failing, 1, false, local);
        row(u"a SOCKS proxy that speaks HTTP"_s, html, 1, false, u"socks5h://"_s + local);
        for (const QString &proxy : {u' ' + local, local + u' ', local + u"\r\n"_s, u'\n' + local,
                                     nul + local, local + nul})
            row(u"proxy "_s + QString::fromLatin1(QUrl::toPercentEncoding(proxy)), html, 0, false,
                proxy);
    }

    // Long before the fetch's time-out: 15 s by HTTP, 20 s by FTP.
    void anAttemptEndsByItself()
    {
        QFETCH(QString, host);
        QFETCH(QString, proxy);
        QFETCH(QString, method);
        QFETCH(int, connections);
        QFETCH(bool, succeeds);
        w->List1->addItem(host);
        w->Check1->setChecked(!proxy.isEmpty());
        w->Text1->setText(proxy);
        w->ftp->setChecked(method == u"FTP");
        const int before = http.connections();
        QElapsedTimer elapsed;
        elapsed.start();
        w->Command1->click();
        QVERIFY2(elapsed.elapsed() < 5000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(http.connections() - before, connections);
        QCOMPARE(w->Label1->text(), u"Remote Host: [%1] %2"_s.arg(method, host));
        QCOMPARE(w->Label2->text(), succeeds ? succeeded : failed);
        QCOMPARE(w->Inet1->RequestTimeout, method == u"FTP" ? 20 : 15);
    }

    // Start attempts at once and arms the 59-second tick.
    void theTickCountsMinutesToTheInterval()
    {
        useHosts({u"/html"_s});
        w->Slider1->setValue(3);
        w->Command1->click();
        QCOMPARE(labels(), u"%1 | 1 | 0"_s.arg(succeeded));
        QCOMPARE(w->Label3->text() + u", "_s + w->Label4->text(),
                 u"Successful Connections: 1, Failed Connections: 0"_s);
        QVERIFY(w->Timer1->isActive() && w->Timer1->interval() == 59000);
        QList<qsizetype> requests;
        for (int tick = 0; tick < 5; ++tick) {
            w->Timer1_Timer();
            requests.append(http.requests.size());
        }
        QCOMPARE(requests, (QList<qsizetype>{1, 1, 2, 2, 2}));
        // A smaller interval counts from the very next tick; content left over
        // from elsewhere is emptied before the attempt.
        useHosts({u"/missing"_s});
        w->Slider1->setValue(1);
        w->cnk->setText(u"<html>"_s);
        w->Timer1_Timer();
        QCOMPARE(labels(), u"%1 | 2 | 1"_s.arg(failed));
    }

    void inTurnAndAtRandom()
    {
        useHosts({u"/html?0"_s, u"/html?1"_s, u"/html?2"_s});
        rig->random.draws = {0.0f, 0.5f, 0.9999f};
        QList<int> selected;
        // In turn, keeping the last host selected past it; at random over the
        // whole range of the draw; in turn again where it stood.
        for (const bool atRandom : {false, false, false, false, true, true, true, false}) {
            w->random1->setChecked(atRandom);
            w->Timer1_Timer();
            selected.append(w->List1->currentRow());
        }
        QCOMPARE(selected, (QList<int>{1, 2, 2, 1, 0, 1, 2, 2}));
        QCOMPARE(rig->random.seeds, 3);
        // Hosts removed up to the next one: the turn starts again at the top.
        delete w->List1->takeItem(2);
        delete w->List1->takeItem(1);
        w->Timer1_Timer();
        QCOMPARE(http.requests.join(u' ').remove(u"/html?"_s), u"0 1 2 0 0 1 2 1 0"_s);
    }

    void withoutHostsTheCycleHalts()
    {
        for (const bool atRandom : {false, true}) {
            w->random1->setChecked(atRandom);
            w->Command1->click();
            QCOMPARE(w->Label1->text(), u"Remote Host:  No Hosts Configured"_s);
            QCOMPARE(labels(), u"Status: No Hosts Configured |  | "_s);
            QVERIFY(!w->Timer1->isActive());
            w->Command3->click();
        }
        QCOMPARE(rig->random.seeds, 1);
    }

    void countsStopAt32767()
    {
        useHosts({u"/html"_s, u"/missing"_s, u"/html"_s});
        // 32,766 attempts would take hours: the counts are set near the limit.
        w->good = 32766;
        w->bad = 32767;
        for (int i = 0; i < 3; ++i)
            w->Timer1_Timer();
        QCOMPARE(labels(), u"%1 | 32767 | 32767"_s.arg(succeeded));
    }

    // Without a proxy address the fetch goes direct, though the facility keeps
    // the earlier proxy text.
    void theProxyIsUsedOnlyWithAnAddress()
    {
        LocalHttpServer proxy;
        useHosts({u"/html"_s});
        w->Check1->setChecked(true);
        w->Text1->setText(proxy.address());
        w->Timer1_Timer();
        w->Text1->clear();
        w->Timer1_Timer();
        QCOMPARE(proxy.requests, QStringList{http.url(u"/html"_s)});
        QCOMPARE(http.requests, QStringList{u"/html"_s});
    }

    // The ended fetch counts as failed, but the window stays as left.
    void aStopOrACloseDuringAFetchPrevails()
    {
        useHosts({u"/hang"_s, u"/missing"_s, u"/hang"_s});
        QTimer::singleShot(300, w, [this] { w->Command3->click(); });
        QElapsedTimer elapsed;
        elapsed.start();
        w->Command1->click();
        QVERIFY2(elapsed.elapsed() < 3000, "the Stop ended the fetch");
        QVERIFY(!w->Timer1->isActive());
        QCOMPARE(labels(), u"Status:  |  | "_s);
        w->Command1->click();
        QCOMPARE(labels(), u"%1 |  | 2"_s.arg(failed));
        w->show();
        QSignalSpy unloaded(w, &frmmain::unloaded);
        QTimer::singleShot(300, w, [&] {
            elapsed.start();
            w->QWidget::close();
        });
        w->Timer1_Timer();
        QVERIFY2(elapsed.elapsed() < 1000, "the close ended the fetch");
        QCOMPARE(unloaded.size(), 1);
        QVERIFY(!w->Timer1->isActive());
        QCOMPARE(labels(), u" |  | 2"_s);
    }

    // A Stop and a Start take the cycle back; a Start from the tray while an
    // attempt runs waits for it.
    void aStartDuringAFetchFollowsIt()
    {
        useHosts({u"/hang"_s, u"/html"_s, u"/slow"_s, u"/slow"_s});
        QTimer::singleShot(300, w, [this] {
            w->Command3->click();
            w->Command1->click();
        });
        w->Command1->click();
        QCOMPARE(labels(), u"%1 | 1 | 1"_s.arg(succeeded));
        QVERIFY(w->Timer1->isActive());
        QTimer::singleShot(100, w, [this] { w->start->trigger(); });
        w->Timer1_Timer();
        QCOMPARE(http.requests.join(u' '), u"/hang /html /slow /slow"_s);
        QCOMPARE(labels(), u"%1 | 3 | 1"_s.arg(succeeded));
    }

    // Host and proxy texts the round trips elsewhere do not try.
    void oddTextsComeBackAfterASaveAndALoad()
    {
        for (const QString &text :
             {u"host"_s + QChar() + u"tail"_s, u"a\nb\r\nc\rd"_s, u"a\t\x1b\x7f\u0085"_s,
              u"\u202e\ufeff\u200b\u0301\ufffe\uffff\U0001F600"_s, QString(64 * 1024, u'é')}) {
            useHosts({});
            rig->dialogs.answerInputBox(text);
            w->Command5->click();
            w->Check1->setChecked(true);
            w->Text1->setText(text); // the box keeps at most maxLength() characters
            QCOMPARE(w->save(), std::nullopt);
            TestRig next(fileBytes(rig->settingsFile()));
            QCOMPARE(next.window().List1->count(), 1);
            QCOMPARE(next.window().List1->item(0)->text(), text);
            QVERIFY(next.window().Check1->isChecked());
            QCOMPARE(next.window().Text1->text(), text.left(w->Text1->maxLength()));
        }
    }

private:
    // The status, the count of successes, the count of failures.
    QString labels() const
    {
        return u"%1 | %2 | %3"_s.arg(w->Label2->text(), w->Label3->text().section(u": "_s, 1),
                                     w->Label4->text().section(u": "_s, 1));
    }

    void useHosts(const QStringList &paths)
    {
        w->List1->clear();
        for (const QString &path : paths)
            w->List1->addItem(http.address(path));
        http.requests.clear();
    }

    LocalHttpServer http;
    const LocalFtpServer ftp;
    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
};

QTEST_MAIN(KeepAliveTest)
#include "test_keepalive.moc"
