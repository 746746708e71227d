// The keep-alive engine: the tick, Start and Stop, and the connection attempt,
// fetching from real servers on 127.0.0.1.

#include "support/ExternalServers.h"
#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace
{

constexpr std::int16_t countLimit = 32767;

} // namespace

class KeepAliveTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(http.isListening()); }

    void init()
    {
        rig = std::make_unique<TestRig>();
        w = &rig->window();
        http.requests.clear();
        connectionsBefore = http.connections();
        // A request an earlier test cancelled may not have been seen closing yet.
        QTRY_COMPARE(http.openNow(), 0);
        http.startCountingAtOnce();
    }
    void cleanup() { rig.reset(); }

    void startAttemptsAtOnceAndArmsTheTimer()
    {
        useHosts({u"/html"_s});
        w->Command1_Click();
        QCOMPARE(http.requests, QStringList{u"/html"_s});
        QCOMPARE(w->Label1->text(), u"Remote Host: [HTTP] "_s + http.address(u"/html"_s));
        QCOMPARE(w->Label2->text(), u"Status: successfully connected at 12:34"_s);
        QCOMPARE(w->Label3->text(), u"Successful Connections: 1"_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: 0"_s);
        QVERIFY(w->Timer1->isActive());
        QCOMPARE(w->Timer1->interval(), 59000);
        QCOMPARE(w->cnt, 0);
        QCOMPARE(w->cnk->text(), QString());
        QVERIFY(!w->Command1->isEnabled());
        QVERIFY(w->Command3->isEnabled());
        QVERIFY(w->start->isChecked());
        QVERIFY(!w->stop1->isChecked());
        QCOMPARE(w->Inet1->RequestTimeout, 15);
        QCOMPARE(w->Inet1->Protocol, Inet::Method::Http);
        QCOMPARE(w->Inet1->AccessType, Inet::Direct);
    }

    void ftpAttemptsFetchTheSameAddressText()
    {
        FtpServer ftp;
        ftp.putFile(u"index.txt"_s, "<html>");
        QVERIFY2(ftp.start(), qPrintable(ftp.why()));
        w->ftp->setChecked(true);
        w->List1->clear();
        w->List1->addItem(ftp.address());
        w->Command1_Click();
        QCOMPARE(w->Label1->text(), u"Remote Host: [FTP] "_s + ftp.address());
        QCOMPARE(w->Label3->text(), u"Successful Connections: 1"_s);
        QCOMPARE(w->Inet1->RequestTimeout, 20);
        QCOMPARE(w->Inet1->Protocol, Inet::Method::Ftp);
        w->List1->item(0)->setText(ftp.address() + u"/missing.txt"_s);
        w->Timer1_Timer();
        QCOMPARE(w->Label2->text(), u"Status: could not connect"_s);
        QCOMPARE(w->bad, 1);
    }

    void theDocumentIsJudgedAgainstSevenBlanks_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("seven blanks") << u"/blanks7"_s << false;
        QTest::newRow("eight blanks") << u"/blanks8"_s << true;
        QTest::newRow("<html>") << u"/html"_s << true;
        QTest::newRow("empty") << u"/empty"_s << false;
        QTest::newRow("line break first") << u"/linebreak"_s << false;
        QTest::newRow("NUL bytes") << u"/nul"_s << false;
        QTest::newRow("no UTF-8") << u"/binary"_s << true;
        QTest::newRow("404 page") << u"/missing"_s << false;
        QTest::newRow("redirect") << u"/redirect?to=/html"_s << true;
        QTest::newRow("redirect loop") << u"/loop"_s << false;
        QTest::newRow("endless") << u"/endless"_s << true;
    }

    void theDocumentIsJudgedAgainstSevenBlanks()
    {
        QFETCH(QString, path);
        QFETCH(bool, succeeds);
        useHosts({path});
        w->good = 4;
        w->bad = 7;
        w->Label3->setText(u"untouched"_s);
        w->Command1_Click();
        QCOMPARE(w->good, succeeds ? 5 : 4);
        QCOMPARE(w->bad, succeeds ? 7 : 8);
        QCOMPARE(w->Label4->text(), u"Failed Connections: "_s + QString::number(w->bad));
        QCOMPARE(w->Label3->text(), succeeds ? u"Successful Connections: 5"_s : u"untouched"_s);
        QCOMPARE(w->Label2->text(), succeeds ? u"Status: successfully connected at 12:34"_s
                                             : u"Status: could not connect"_s);
        QCOMPARE(w->cnk->text(), QString());
        QVERIFY(w->Timer1->isActive());
    }

    void theTickCountsToTheInterval()
    {
        useHosts({u"/html"_s});
        w->Slider1->setValue(3);
        w->Command1_Click();
        QCOMPARE(http.requests.size(), 1);
        w->Timer1_Timer();
        w->Timer1_Timer();
        QCOMPARE(w->cnt, 2);
        QCOMPARE(http.requests.size(), 1);
        w->Timer1_Timer();
        QCOMPARE(http.requests.size(), 2);
        QCOMPARE(w->cnt, 0);
        // A smaller interval counts for the very next tick.
        w->Timer1_Timer();
        w->Timer1_Timer();
        w->Slider1->setValue(1);
        w->Timer1_Timer();
        QCOMPARE(http.requests.size(), 3);
    }

    void aDueTickEmptiesTheReceivedContentFirst()
    {
        useHosts({u"/missing"_s});
        w->Command1_Click();
        // Left from elsewhere; judged on its own it would pass.
        w->cnk->setText(u"<html>"_s);
        w->Timer1_Timer();
        QCOMPARE(w->bad, 2);
        QCOMPARE(w->good, 0);
    }

    void inTurnTheHostsComeInOrder()
    {
        useHosts({u"/html?0"_s, u"/html?1"_s, u"/html?2"_s});
        const QList<int> selected = selectionsOverStartAndTicks(3);
        QCOMPARE(http.requests,
                 (QStringList{u"/html?0"_s, u"/html?1"_s, u"/html?2"_s, u"/html?0"_s}));
        // After the last host the list keeps it selected.
        QCOMPARE(selected, (QList<int>{1, 2, 2, 1}));
        QCOMPARE(w->intv, 1);
        QVERIFY(w->Label1->text().endsWith(u"/html?0"));
    }

    void inTurnWithOneHost()
    {
        useHosts({u"/html"_s});
        w->Command1_Click();
        w->Timer1_Timer();
        w->Timer1_Timer();
        QCOMPARE(http.requests, (QStringList{u"/html"_s, u"/html"_s, u"/html"_s}));
        QCOMPARE(w->List1->currentRow(), 0);
        QCOMPARE(w->good, 3);
    }

    void inTurnStartsAgainAfterRemovals()
    {
        useHosts({u"/html?0"_s, u"/html?1"_s, u"/html?2"_s, u"/html?3"_s});
        w->intv = 3;
        delete w->List1->takeItem(3);
        delete w->List1->takeItem(2);
        w->Command1_Click();
        QCOMPARE(http.requests, QStringList{u"/html?0"_s});
        QCOMPARE(w->intv, 1);
        QCOMPARE(w->List1->currentRow(), 1);
    }

    void atRandomEveryDrawPicksAHost()
    {
        useHosts({u"/html?0"_s, u"/html?1"_s, u"/html?2"_s});
        w->random1->setChecked(true);
        rig->random.draws = {0.0f, 0.5f, 0.9999f, 0.34f};
        const QList<int> selected = selectionsOverStartAndTicks(3);
        QCOMPARE(http.requests,
                 (QStringList{u"/html?0"_s, u"/html?1"_s, u"/html?2"_s, u"/html?1"_s}));
        // The list marks the host just used; the in-turn position stays.
        QCOMPARE(selected, (QList<int>{0, 1, 2, 1}));
        QCOMPARE(rig->random.seeds, 4);
        QCOMPARE(w->intv, 0);
    }

    void atRandomWithOneHost()
    {
        useHosts({u"/html"_s});
        w->random1->setChecked(true);
        rig->random.draws = {0.9999f, 0.0f};
        w->Command1_Click();
        w->Timer1_Timer();
        QCOMPARE(http.requests, (QStringList{u"/html"_s, u"/html"_s}));
        QCOMPARE(w->List1->currentRow(), 0);
    }

    void withoutHostsTheCycleHalts_data()
    {
        QTest::addColumn<bool>("atRandom");
        QTest::newRow("in turn") << false;
        QTest::newRow("at random") << true;
    }

    void withoutHostsTheCycleHalts()
    {
        QFETCH(bool, atRandom);
        w->List1->clear();
        w->random1->setChecked(atRandom);
        w->good = 3;
        w->bad = 4;
        w->cnt = 2;
        w->intv = 5;
        w->Command1_Click();
        QCOMPARE(w->Label1->text(), u"Remote Host:  No Hosts Configured"_s);
        QCOMPARE(w->Label2->text(), u"Status: No Hosts Configured"_s);
        QCOMPARE(w->Label3->text(), u"Successful Connections: "_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: "_s);
        QVERIFY(!w->Timer1->isActive());
        QCOMPARE(w->good, 3);
        QCOMPARE(w->bad, 4);
        QCOMPARE(w->cnt, 2);
        QCOMPARE(w->intv, atRandom ? 5 : 0);
        QVERIFY(!w->Command1->isEnabled());
        QVERIFY(w->Command3->isEnabled());
        QVERIFY(w->start->isChecked());
        QCOMPARE(rig->random.seeds, atRandom ? 1 : 0);
        QCOMPARE(http.connections(), connectionsBefore);
    }

    void stopThenStartShowsTotalsSinceTheProgramBegan()
    {
        useHosts({u"/html"_s, u"/missing"_s});
        w->Command1_Click();
        w->Command3_Click();
        QCOMPARE(w->Label1->text(), u"Remote Host: "_s);
        QCOMPARE(w->Label2->text(), u"Status: "_s);
        QCOMPARE(w->Label3->text(), u"Successful Connections: "_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: "_s);
        QVERIFY(!w->Timer1->isActive());
        QVERIFY(w->Command1->isEnabled());
        QVERIFY(!w->Command3->isEnabled());
        QVERIFY(w->stop1->isChecked());
        QVERIFY(!w->start->isChecked());

        w->Command1_Click(); // the second host fails
        QCOMPARE(w->Label4->text(), u"Failed Connections: 1"_s);
        QCOMPARE(w->Label3->text(), u"Successful Connections: "_s);
        w->Timer1_Timer(); // the first host again
        QCOMPARE(w->Label3->text(), u"Successful Connections: 2"_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: 1"_s);
    }

    void countsStayAtTheirLimit_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<std::int16_t>("good");
        QTest::addColumn<std::int16_t>("bad");
        QTest::addColumn<std::int16_t>("goodAfter");
        QTest::addColumn<std::int16_t>("badAfter");
        const std::int16_t limit = countLimit;
        const std::int16_t below = countLimit - 1;
        QTest::newRow("success reaches the limit")
            << u"/html"_s << below << limit << limit << limit;
        QTest::newRow("success at the limit") << u"/html"_s << limit << below << limit << below;
        QTest::newRow("failure at the limit") << u"/empty"_s << limit << limit << limit << limit;
        QTest::newRow("failure reaches the limit")
            << u"/empty"_s << below << below << below << limit;
    }

    void countsStayAtTheirLimit()
    {
        QFETCH(QString, path);
        QFETCH(std::int16_t, good);
        QFETCH(std::int16_t, bad);
        QFETCH(std::int16_t, goodAfter);
        QFETCH(std::int16_t, badAfter);
        useHosts({path});
        w->good = good;
        w->bad = bad;
        w->Command1_Click();
        QCOMPARE(w->good, goodAfter);
        QCOMPARE(w->bad, badAfter);
        QCOMPARE(w->Label4->text(), u"Failed Connections: "_s + QString::number(badAfter));
        QVERIFY(w->Timer1->isActive());
    }

    void theProxyIsUsedOnlyWithAnAddress()
    {
        TinyProxy proxy;
        QVERIFY2(proxy.start(), qPrintable(proxy.why()));
        useHosts({u"/html?proxied"_s});
        w->Check1->setChecked(true);
        w->Text1->setText(proxy.address());
        w->Command1_Click();
        QCOMPARE(w->Inet1->AccessType, Inet::NamedProxy);
        QCOMPARE(w->Inet1->Proxy, proxy.address());
        QCOMPARE(w->good, 1);
        QCOMPARE(proxy.requestLines(),
                 QStringList{u"GET "_s + http.url(u"/html?proxied"_s) + u" HTTP/1.1"_s});

        // Ticked with no address: direct, and the old proxy text stays.
        w->Text1->clear();
        useHosts({u"/html?direct"_s});
        w->Timer1_Timer();
        QCOMPARE(w->Inet1->AccessType, Inet::Direct);
        QCOMPARE(w->Inet1->Proxy, proxy.address());
        QCOMPARE(w->good, 2);
        QCOMPARE(proxy.requestLines().size(), 1);
    }

    void aHostWithAnotherSchemeIsNeverFetched()
    {
        w->List1->clear();
        w->List1->addItem(u"file:///etc/hostname"_s);
        w->List1->addItem(u"dict://"_s + http.address(u"/"_s));
        w->Command1_Click();
        w->Timer1_Timer();
        QCOMPARE(w->bad, 2);
        QCOMPARE(w->Label2->text(), u"Status: could not connect"_s);
        QCOMPARE(http.connections(), connectionsBefore);
    }

    void stopDuringAFetchPrevails()
    {
        useHosts({u"/hang"_s});
        QTimer::singleShot(300, w, [this] { w->Command3_Click(); });
        QElapsedTimer elapsed;
        elapsed.start();
        w->Command1_Click();
        QVERIFY2(elapsed.elapsed() < 5000, "the Stop ended the fetch");
        QCOMPARE(w->bad, 1);
        QVERIFY(!w->Timer1->isActive());
        QCOMPARE(w->Label1->text(), u"Remote Host: "_s);
        QCOMPARE(w->Label2->text(), u"Status: "_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: "_s);
        QVERIFY(w->Command1->isEnabled());
        QVERIFY(w->stop1->isChecked());
        QCOMPARE(w->cnt, 0);
        QCOMPARE(w->cnk->text(), QString());
    }

    void startAfterAStopDuringAFetchTakesTheCycleBack()
    {
        useHosts({u"/hang"_s, u"/html"_s});
        QTimer::singleShot(300, w, [this] {
            w->Command3_Click();
            w->Command1_Click();
        });
        w->Command1_Click();
        // The cancelled request ends before the next one starts, but the server
        // may see its close only after the next request: "at once" is not
        // asked here.
        QCOMPARE(http.requests, (QStringList{u"/hang"_s, u"/html"_s}));
        QCOMPARE(w->bad, 1);
        QCOMPARE(w->good, 1);
        QCOMPARE(w->Label4->text(), u"Failed Connections: 1"_s);
        QCOMPARE(w->Label3->text(), u"Successful Connections: 1"_s);
        QVERIFY(w->Timer1->isActive());
        QVERIFY(w->start->isChecked());
    }

    void trayStartDuringAnAttemptWaitsForIt()
    {
        useHosts({u"/slow"_s});
        QTimer::singleShot(100, w, [this] { w->start_Click(); });
        w->Command1_Click();
        QCOMPARE(http.requests, (QStringList{u"/slow"_s, u"/slow"_s}));
        QCOMPARE(http.mostAtOnce(), 1);
        QCOMPARE(w->good, 2);
        QCOMPARE(w->bad, 0);
        QVERIFY(w->Timer1->isActive());
    }

    void closingDuringAFetchEndsTheProgram()
    {
        QProcess probe;
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(QStringLiteral(FETCH_PROBE), {u"close"_s});
        QVERIFY(probe.waitForFinished(10000));
        const QString output = QString::fromLocal8Bit(probe.readAllStandardOutput());
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QVERIFY2(probe.exitCode() == 0, qPrintable(output));
        const QRegularExpressionMatch ended =
            QRegularExpression(u"ended (\\d+) ms after the close"_s).match(output);
        QVERIFY2(ended.hasMatch(), qPrintable(output));
        QVERIFY2(ended.captured(1).toInt() < 1000, qPrintable(output));
    }

private:
    // Starts the cycle and lets `ticks` ticks come, noting the list's
    // selection after each attempt.
    QList<int> selectionsOverStartAndTicks(int ticks)
    {
        QList<int> selected;
        w->Command1_Click();
        selected.append(w->List1->currentRow());
        for (int tick = 0; tick < ticks; ++tick) {
            w->Timer1_Timer();
            selected.append(w->List1->currentRow());
        }
        return selected;
    }

    void useHosts(const QStringList &paths)
    {
        w->List1->clear();
        for (const QString &path : paths)
            w->List1->addItem(http.address(path));
        connectionsBefore = http.connections();
        // A request an earlier test cancelled may not have been seen closing yet.
        QTRY_COMPARE(http.openNow(), 0);
        http.startCountingAtOnce();
    }

    LocalHttpServer http;
    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
    int connectionsBefore = 0;
};

QTEST_MAIN(KeepAliveTest)
#include "test_keepalive.moc"
