// The keep-alive cycle through the window: Start, Stop, the tick and the
// connection attempt, fetching from real servers on 127.0.0.1.

#include "support/ExternalServers.h"
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

using namespace Qt::StringLiterals;

namespace
{

const QString succeeded = u"Status: successfully connected at 12:34"_s;
const QString failed = u"Status: could not connect"_s;

} // namespace

class KeepAliveTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        rig = std::make_unique<TestRig>();
        w = &rig->window();
        useHosts({});
    }
    void cleanup() { rig.reset(); }

    void startAttemptsAtOnceAndArmsTheTick()
    {
        useHosts({u"/html"_s});
        w->Command1->click();
        QCOMPARE(http.requests, QStringList{u"/html"_s});
        QCOMPARE(w->Label1->text(), u"Remote Host: [HTTP] "_s + http.address(u"/html"_s));
        QCOMPARE(w->Label2->text(), succeeded);
        QCOMPARE(w->Label3->text(), u"Successful Connections: 1"_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: 0"_s);
        QVERIFY(w->Timer1->isActive());
        QCOMPARE(w->Timer1->interval(), 59000);
        QVERIFY(!w->Command1->isEnabled() && w->Command3->isEnabled());
        QVERIFY(w->start->isChecked() && !w->stop1->isChecked());
        QCOMPARE(w->Inet1->RequestTimeout, 15);
    }

    void ftpAttemptsFetchTheSameAddressText()
    {
        FtpServer ftp;
        ftp.putFile(u"index.txt"_s, "<html>");
        QVERIFY2(ftp.start(), qPrintable(ftp.why()));
        w->ftp->setChecked(true);
        w->List1->addItem(ftp.address());
        w->Command1->click();
        QCOMPARE(w->Label1->text(), u"Remote Host: [FTP] "_s + ftp.address());
        QCOMPARE(w->Label2->text(), succeeded);
        QCOMPARE(w->Inet1->RequestTimeout, 20);
        w->List1->item(0)->setText(ftp.address() + u"/missing.txt"_s);
        w->Timer1_Timer();
        QCOMPARE(w->Label2->text(), failed);
        QCOMPARE(w->Label4->text(), u"Failed Connections: 1"_s);
    }

    void theDocumentMustSortAfterSevenBlanks_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("seven blanks") << u"/page?hex=20202020202020"_s << false;
        QTest::newRow("eight blanks") << u"/page?hex=2020202020202020"_s << true;
        QTest::newRow("seven blanks, then NUL") << u"/page?hex=2020202020202000"_s << true;
        QTest::newRow("empty") << u"/page"_s << false;
        QTest::newRow("line break first") << u"/page?hex=0a3c68746d6c3e"_s << false;
        QTest::newRow("NUL bytes") << u"/page?hex=0000000000000000"_s << false;
        QTest::newRow("no UTF-8") << u"/page?hex=c080"_s << true;
        QTest::newRow("line break, then no UTF-8") << u"/page?hex=0aff"_s << false;
        QTest::newRow("404 page") << u"/missing"_s << false;
        QTest::newRow("redirect") << u"/redirect?to=/html"_s << true;
    }

    void theDocumentMustSortAfterSevenBlanks()
    {
        QFETCH(QString, path);
        QFETCH(bool, succeeds);
        useHosts({path});
        const QString successesBefore = w->Label3->text();
        w->Command1->click();
        QCOMPARE(w->Label2->text(), succeeds ? succeeded : failed);
        QCOMPARE(w->Label3->text(), succeeds ? u"Successful Connections: 1"_s : successesBefore);
        QCOMPARE(w->Label4->text(), u"Failed Connections: "_s + (succeeds ? u"0"_s : u"1"_s));
        QVERIFY(w->Timer1->isActive());
    }

    void theTickCountsMinutesToTheInterval()
    {
        useHosts({u"/html"_s});
        w->Slider1->setValue(3);
        w->Command1->click();
        QList<qsizetype> requests;
        for (int tick = 0; tick < 5; ++tick) {
            w->Timer1_Timer();
            requests.append(http.requests.size());
        }
        QCOMPARE(requests, (QList<qsizetype>{1, 1, 2, 2, 2}));
        // A smaller interval counts from the very next tick.
        w->Slider1->setValue(1);
        w->Timer1_Timer();
        QCOMPARE(http.requests.size(), 3);
        // Content left over from elsewhere is emptied before a due attempt.
        useHosts({u"/missing"_s});
        w->cnk->setText(u"<html>"_s);
        w->Timer1_Timer();
        QCOMPARE(w->Label2->text(), failed);
    }

    void inTurnTheHostsComeInOrder()
    {
        useHosts({u"/html?0"_s, u"/html?1"_s, u"/html?2"_s});
        // After the last host the list keeps it selected.
        QCOMPARE(selectionsOverStartAndTicks(3), (QList<int>{1, 2, 2, 1}));
        QCOMPARE(http.requests,
                 (QStringList{u"/html?0"_s, u"/html?1"_s, u"/html?2"_s, u"/html?0"_s}));
        // Hosts removed up to the next one: the turn starts again at the top.
        w->Timer1_Timer();
        delete w->List1->takeItem(2);
        delete w->List1->takeItem(1);
        w->Timer1_Timer();
        QCOMPARE(http.requests.last(), u"/html?0"_s);
    }

    void atRandomEveryDrawPicksAHost()
    {
        useHosts({u"/html?0"_s, u"/html?1"_s, u"/html?2"_s});
        rig->random.draws = {0.0f, 0.5f, 0.9999f};
        w->Command1->click(); // in turn: the first host
        w->random1->setChecked(true);
        QList<int> selected;
        for (int tick = 0; tick < 3; ++tick) {
            w->Timer1_Timer();
            selected.append(w->List1->currentRow());
        }
        // The list marks the host just used; the draw's whole range is used.
        QCOMPARE(selected, (QList<int>{0, 1, 2}));
        QCOMPARE(http.requests,
                 (QStringList{u"/html?0"_s, u"/html?0"_s, u"/html?1"_s, u"/html?2"_s}));
        QCOMPARE(rig->random.seeds, 3);
        // The turn goes on where it stood before the draws.
        w->random1->setChecked(false);
        w->Timer1_Timer();
        QCOMPARE(http.requests.last(), u"/html?1"_s);
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
        w->random1->setChecked(atRandom);
        w->Command1->click();
        QCOMPARE(w->Label1->text(), u"Remote Host:  No Hosts Configured"_s);
        QCOMPARE(w->Label2->text(), u"Status: No Hosts Configured"_s);
        QCOMPARE(w->Label3->text(), u"Successful Connections: "_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: "_s);
        QVERIFY(!w->Timer1->isActive());
        QVERIFY(!w->Command1->isEnabled() && w->start->isChecked());
        QCOMPARE(rig->random.seeds, atRandom ? 1 : 0);
        QCOMPARE(http.requests, QStringList());
    }

    void stopThenStartShowsTotalsSinceTheProgramBegan()
    {
        useHosts({u"/html"_s, u"/missing"_s});
        w->Command1->click();
        w->Command3->click();
        QCOMPARE(w->Label1->text(), u"Remote Host: "_s);
        QCOMPARE(w->Label2->text(), u"Status: "_s);
        QCOMPARE(w->Label3->text(), u"Successful Connections: "_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: "_s);
        QVERIFY(!w->Timer1->isActive());
        QVERIFY(w->Command1->isEnabled() && !w->Command3->isEnabled());
        QVERIFY(w->stop1->isChecked() && !w->start->isChecked());
        w->start->trigger(); // the second host fails
        QCOMPARE(w->Label4->text(), u"Failed Connections: 1"_s);
        w->Timer1_Timer(); // the first host again
        QCOMPARE(w->Label3->text(), u"Successful Connections: 2"_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: 1"_s);
    }

    void countsStopAt32767()
    {
        useHosts({u"/html"_s, u"/missing"_s});
        // 32,766 attempts would take hours: the counts are set near the limit.
        w->good = 32766;
        w->bad = 32767;
        w->Command1->click();
        w->Timer1_Timer();
        w->Timer1_Timer();
        QCOMPARE(w->Label3->text(), u"Successful Connections: 32767"_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: 32767"_s);
    }

    void theProxyIsUsedOnlyWithAnAddress()
    {
        LocalHttpServer proxy;
        useHosts({u"/html?proxied"_s});
        w->Check1->setChecked(true);
        w->Text1->setText(proxy.address(QString()));
        w->Command1->click();
        QCOMPARE(proxy.requests, QStringList{http.url(u"/html?proxied"_s)});
        QCOMPARE(w->Label2->text(), succeeded);
        // Ticked with no address: direct.
        w->Text1->clear();
        useHosts({u"/html?direct"_s});
        w->Timer1_Timer();
        QCOMPARE(http.requests, QStringList{u"/html?direct"_s});
        QCOMPARE(proxy.requests.size(), 1);
    }

    void stopDuringAFetchPrevails()
    {
        useHosts({u"/hang"_s, u"/missing"_s});
        QTimer::singleShot(300, w, [this] { w->Command3->click(); });
        QElapsedTimer elapsed;
        elapsed.start();
        w->Command1->click();
        QVERIFY2(elapsed.elapsed() < 3000, "the Stop ended the fetch");
        QVERIFY(!w->Timer1->isActive());
        QCOMPARE(w->Label2->text(), u"Status: "_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: "_s);
        QVERIFY(w->Command1->isEnabled() && w->stop1->isChecked());
        // The failure counted all the same.
        w->Command1->click();
        QCOMPARE(w->Label4->text(), u"Failed Connections: 2"_s);
    }

    void startAfterAStopDuringAFetchTakesTheCycleBack()
    {
        useHosts({u"/hang"_s, u"/html"_s});
        QTimer::singleShot(300, w, [this] {
            w->Command3->click();
            w->Command1->click();
        });
        w->Command1->click();
        QCOMPARE(http.requests, (QStringList{u"/hang"_s, u"/html"_s}));
        QCOMPARE(w->Label4->text(), u"Failed Connections: 1"_s);
        QCOMPARE(w->Label3->text(), u"Successful Connections: 1"_s);
        QVERIFY(w->Timer1->isActive() && w->start->isChecked());
    }

    void trayStartDuringAnAttemptWaitsForIt()
    {
        useHosts({u"/slow"_s});
        QTimer::singleShot(100, w, [this] { w->start->trigger(); });
        w->Command1->click();
        QCOMPARE(http.requests, (QStringList{u"/slow"_s, u"/slow"_s}));
        QCOMPARE(w->Label3->text(), u"Successful Connections: 2"_s);
        QCOMPARE(w->Label4->text(), u"Failed Connections: 0"_s);
        QVERIFY(w->Timer1->isActive());
    }

    void closingDuringAFetchEndsItAtOnce()
    {
        useHosts({u"/hang"_s});
        w->show();
        QSignalSpy unloaded(w, &frmmain::unloaded);
        QElapsedTimer sinceClose;
        QTimer::singleShot(300, w, [&] {
            sinceClose.start();
            w->QWidget::close(); // as the close box does
        });
        w->Command1->click();
        QVERIFY2(sinceClose.elapsed() < 1000, qPrintable(QString::number(sinceClose.elapsed())));
        QCOMPARE(unloaded.size(), 1);
        QVERIFY(!w->Timer1->isActive());
        QCOMPARE(w->bad, 1);
    }

private:
    // Starts the cycle and lets `ticks` ticks come, noting the list's
    // selection after each attempt.
    QList<int> selectionsOverStartAndTicks(int ticks)
    {
        w->Command1->click();
        QList<int> selected{w->List1->currentRow()};
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
        http.requests.clear();
    }

    LocalHttpServer http;
    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
};

QTEST_MAIN(KeepAliveTest)
#include "test_keepalive.moc"
