// The keep-alive cycle through the window: Start, Stop, the tick and the
// connection attempt, fetching from a server on 127.0.0.1.

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

    void startAttemptsAtOnceAndArmsTheTick()
    {
        useHosts({u"/html"_s});
        w->Command1->click();
        QCOMPARE(http.requests, QStringList{u"/html"_s});
        QCOMPARE(w->Label1->text(), u"Remote Host: [HTTP] "_s + http.address(u"/html"_s));
        QCOMPARE(labels(), (QStringList{succeeded, u"Successful Connections: 1"_s,
                                        u"Failed Connections: 0"_s}));
        QVERIFY(w->Timer1->isActive() && w->Timer1->interval() == 59000);
        QVERIFY(!w->Command1->isEnabled() && w->Command3->isEnabled());
        QVERIFY(w->start->isChecked() && !w->stop1->isChecked());
        QCOMPARE(w->Inet1->RequestTimeout, 15);
        // By FTP, from an FTP server.
        const LocalPeer ftpServer(LocalPeer::FtpServer);
        QVERIFY(ftpServer.isListening());
        w->ftp->setChecked(true);
        w->List1->item(0)->setText(ftpServer.address(u"/doc.html"_s));
        w->Timer1_Timer();
        QCOMPARE(w->Label1->text(), u"Remote Host: [FTP] "_s + ftpServer.address(u"/doc.html"_s));
        QCOMPARE(w->Label3->text(), u"Successful Connections: 2"_s);
        QCOMPARE(w->Inet1->RequestTimeout, 20);
    }

    void theDocumentMustSortAfterSevenBlanks()
    {
        // The bytes served; "+" marks those that show the host answered.
        for (const QString &row :
             {u"20202020202020"_s, u"+2020202020202020"_s, u"+2020202020202000"_s, QString(),
              u"0a3c68746d6c3e"_s, u"0000000000000000"_s, u"+c080"_s, u"0aff"_s}) {
            const bool answered = row.startsWith(u'+');
            useHosts({u"/page?hex="_s + row.mid(answered ? 1 : 0)});
            const QString successesBefore = w->Label3->text();
            w->Timer1_Timer();
            QVERIFY2(w->Label2->text() == (answered ? succeeded : failed), qPrintable(row));
            QVERIFY2((w->Label3->text() == successesBefore) != answered, qPrintable(row));
        }
        QCOMPARE(w->Label4->text(), u"Failed Connections: 5"_s);
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

    void inTurnAndAtRandom()
    {
        useHosts({u"/html?0"_s, u"/html?1"_s, u"/html?2"_s});
        rig->random.draws = {0.0f, 0.5f, 0.9999f};
        QList<int> selected;
        const auto attempt = [&] {
            w->Timer1_Timer();
            selected.append(w->List1->currentRow());
        };
        // In turn; after the last host the list keeps it selected.
        for (int i = 0; i < 4; ++i)
            attempt();
        // At random over the whole range of the draw; the list marks the host used.
        w->random1->setChecked(true);
        for (int i = 0; i < 3; ++i)
            attempt();
        // The turn goes on where it stood.
        w->random1->setChecked(false);
        attempt();
        QCOMPARE(selected, (QList<int>{1, 2, 2, 1, 0, 1, 2, 2}));
        QCOMPARE(http.requests.join(u' ').remove(u"/html?"_s), u"0 1 2 0 0 1 2 1"_s);
        QCOMPARE(rig->random.seeds, 3);
        // Hosts removed up to the next one: the turn starts again at the top.
        delete w->List1->takeItem(2);
        delete w->List1->takeItem(1);
        attempt();
        QCOMPARE(http.requests.last(), u"/html?0"_s);
    }

    void withoutHostsTheCycleHalts()
    {
        for (const bool atRandom : {false, true}) {
            w->random1->setChecked(atRandom);
            w->Command1->click();
            QCOMPARE(w->Label1->text(), u"Remote Host:  No Hosts Configured"_s);
            QCOMPARE(labels(),
                     (QStringList{u"Status: No Hosts Configured"_s, u"Successful Connections: "_s,
                                  u"Failed Connections: "_s}));
            QVERIFY(!w->Timer1->isActive() && !w->Command1->isEnabled());
            w->Command3->click();
        }
        QCOMPARE(rig->random.seeds, 1);
        QCOMPARE(http.requests, QStringList());
    }

    void countsStopAt32767()
    {
        useHosts({u"/html"_s, u"/missing"_s, u"/html"_s});
        // 32,766 attempts would take hours: the counts are set near the limit.
        w->good = 32766;
        w->bad = 32767;
        for (int i = 0; i < 3; ++i)
            w->Timer1_Timer();
        QCOMPARE(labels(), (QStringList{succeeded, u"Successful Connections: 32767"_s,
                                        u"Failed Connections: 32767"_s}));
    }

    void theProxyIsUsedOnlyWithAnAddress()
    {
        LocalHttpServer proxy;
        useHosts({u"/html"_s});
        w->Check1->setChecked(true);
        w->Text1->setText(proxy.address(QString()));
        w->Timer1_Timer();
        w->Text1->clear();
        w->Timer1_Timer();
        // Direct, while the facility keeps the earlier proxy text.
        QCOMPARE(w->Inet1->AccessType, Inet::Direct);
        QCOMPARE(w->Inet1->Proxy, proxy.address(QString()));
        QCOMPARE(proxy.requests, QStringList{http.url(u"/html"_s)});
        QCOMPARE(http.requests, QStringList{u"/html"_s});
        QCOMPARE(w->Label3->text(), u"Successful Connections: 2"_s);
    }

    void aStopOrACloseDuringAFetchPrevails()
    {
        useHosts({u"/hang"_s, u"/missing"_s});
        QTimer::singleShot(300, w, [this] { w->Command3->click(); });
        QElapsedTimer elapsed;
        elapsed.start();
        w->Command1->click();
        QVERIFY2(elapsed.elapsed() < 3000, "the Stop ended the fetch");
        QVERIFY(!w->Timer1->isActive() && w->Command1->isEnabled());
        QCOMPARE(labels(), (QStringList{u"Status: "_s, u"Successful Connections: "_s,
                                        u"Failed Connections: "_s}));
        w->Command1->click(); // the failure counted all the same
        QCOMPARE(w->Label4->text(), u"Failed Connections: 2"_s);
        // The close box during a fetch.
        useHosts({u"/hang"_s});
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
        QCOMPARE(w->Label4->text(), u"Failed Connections: 2"_s);
    }

    void aStartDuringAFetchFollowsIt()
    {
        // A Stop and a Start: the cycle is taken back.
        useHosts({u"/hang"_s, u"/html"_s});
        QTimer::singleShot(300, w, [this] {
            w->Command3->click();
            w->Command1->click();
        });
        w->Command1->click();
        QCOMPARE(http.requests, (QStringList{u"/hang"_s, u"/html"_s}));
        QCOMPARE(labels(), (QStringList{succeeded, u"Successful Connections: 1"_s,
                                        u"Failed Connections: 1"_s}));
        QVERIFY(w->Timer1->isActive() && w->start->isChecked());
        // A Start from the tray while the attempt runs waits for it.
        useHosts({u"/slow"_s});
        QTimer::singleShot(100, w, [this] { w->start->trigger(); });
        w->Timer1_Timer();
        QCOMPARE(http.requests, (QStringList{u"/slow"_s, u"/slow"_s}));
        QCOMPARE(w->Label3->text(), u"Successful Connections: 3"_s);
    }

private:
    QStringList labels() const { return {w->Label2->text(), w->Label3->text(), w->Label4->text()}; }

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
