// Servers that misbehave on purpose and odd host and proxy texts: each attempt
// ends by itself, long before the window's time-out, and counts as the
// judgement says; every text comes back exactly after a save and a new start.

#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace
{

QStringList hostsOf(const frmmain &w)
{
    QStringList hosts;
    for (int row = 0; row < w.List1->count(); ++row)
        hosts.append(w.List1->item(row)->text());
    return hosts;
}

} // namespace

class HostileNetworkTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(proxy.isListening()); }

    void anAttemptEndsByItself_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<int>("connections"); // made to the local server
        QTest::addColumn<bool>("succeeds");
        const auto at = [this](const QString &path) { return http.address(path); };
        const auto redirect = [this](const QString &to) {
            return http.address(u"/redirect?to="_s +
                                QString::fromLatin1(QUrl::toPercentEncoding(to)));
        };
        const QString none;
        const QString dead = u"127.0.0.1:1"_s;
        // No DNS name holds a label of 64 characters: refused without a query.
        const QString unresolvable = QString(64, u'a') + u".invalid"_s;
        const QString nul(1, QChar());

        QTest::newRow("a header that never ends") << at(u"/endless-header"_s) << none << 1 << false;
        QTest::newRow("10 MiB of headers") << at(u"/header-flood"_s) << none << 1 << false;
        QTest::newRow("10 GB of NUL bytes") << at(u"/ten-gigabytes-nul"_s) << none << 1 << false;
        QTest::newRow("closed mid-body") << at(u"/cut-short"_s) << none << 1 << false;
        QTest::newRow("redirect to file:")
            << redirect(u"file:///etc/passwd"_s) << none << 1 << false;
        QTest::newRow("redirect to a dead FTP port")
            << redirect(u"ftp://"_s + dead) << none << 1 << false;
        QTest::newRow("redirect to an unresolvable name")
            << redirect(u"http://"_s + unresolvable + u"/"_s) << none << 1 << false;
        QTest::newRow("HTTPS to a plain port")
            << u"https://"_s + at(u"/html"_s) << none << 1 << false;
        QTest::newRow("through a proxy") << at(u"/html"_s) << proxy.address() << 1 << true;
        QTest::newRow("a proxy that refuses") << at(u"/html"_s) << dead << 0 << false;
        QTest::newRow("a proxy that answers 502")
            << dead + u"/page?status=502&hex=3c68746d6c3e"_s << at(QString()) << 1 << false;
        QTest::newRow("a SOCKS proxy that speaks HTTP")
            << at(u"/html"_s) << u"socks5h://"_s + at(QString()) << 1 << false;
        // What was read up to the cut is judged: 1 MiB of a page is a page.
        QTest::newRow("10 GB of a page") << at(u"/ten-gigabytes"_s) << none << 1 << true;
        // libcurl would read a text only up to a NUL.
        QTest::newRow("NUL in the host")
            << at(u"/html"_s) + nul + u".example"_s << none << 0 << false;
        QTest::newRow("NUL before the proxy")
            << at(u"/html"_s) << nul + at(QString()) << 0 << false;
        QTest::newRow("NUL after the proxy") << at(u"/html"_s) << at(QString()) + nul << 0 << false;
        QTest::newRow("64 KiB host") << at(u"/"_s) + QString(64 * 1024, u'a') << none << 1 << false;
    }

    void anAttemptEndsByItself()
    {
        QFETCH(QString, host);
        QFETCH(QString, proxy);
        QFETCH(int, connections);
        QFETCH(bool, succeeds);
        TestRig rig;
        frmmain &w = rig.window();
        w.List1->clear();
        w.List1->addItem(host);
        w.Check1->setChecked(!proxy.isEmpty());
        w.Text1->setText(proxy);
        const int connectionsBefore = http.connections();
        QElapsedTimer elapsed;
        elapsed.start();
        w.Command1->click();
        QVERIFY2(elapsed.elapsed() < 5000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(http.connections() - connectionsBefore, connections);
        QCOMPARE(w.Label2->text(), succeeds ? u"Status: successfully connected at 12:34"_s
                                            : u"Status: could not connect"_s);
        QCOMPARE(w.Label4->text(),
                 succeeds ? u"Failed Connections: 0"_s : u"Failed Connections: 1"_s);
        QVERIFY(w.Timer1->isActive());
    }

    // Texts the host and proxy round trips elsewhere do not try.
    void oddTextsComeBackAfterASaveAndALoad()
    {
        for (const QString &text :
             {u"host"_s + QChar() + u"tail"_s, u"a\nb\r\nc\rd"_s, u"a\t\x1b\x7f\u0085"_s,
              u"\u202e\ufeff\u200b\u0301\ufffe\uffff\U0001F600"_s, QString(64 * 1024, u'é')}) {
            TestRig first;
            frmmain &w = first.window();
            w.List1->clear();
            first.dialogs.answerInputBox(text);
            w.Command5->click();
            w.Check1->setChecked(true);
            w.Text1->setText(text);
            // The box takes at most maxLength() characters of a paste.
            const QString proxy = text.left(w.Text1->maxLength());
            QCOMPARE(w.Text1->text(), proxy);
            QCOMPARE(w.save(), std::nullopt);
            TestRig next(fileBytes(first.settingsFile()));
            QCOMPARE(hostsOf(next.window()), QStringList{text});
            QVERIFY(next.window().Check1->isChecked());
            QCOMPARE(next.window().Text1->text(), proxy);
        }
    }

private:
    LocalHttpServer http;
    const LocalPeer proxy{LocalPeer::HttpProxy};
};

QTEST_MAIN(HostileNetworkTest)
#include "test_hostile_network.moc"
