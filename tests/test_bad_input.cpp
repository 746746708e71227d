// Generated host and proxy texts of every kind, through the window: Add, an
// attempt, save and load. Nothing crashes, every accepted text comes back
// exactly, and nothing but http, https, ftp and ftps is ever fetched.
//
// Every attempt goes through a proxy on 127.0.0.1 that records what it is
// asked for, so no host text, however odd, is ever looked up or contacted.
// Proxy texts name only hosts that are reached or refused without a DNS query.

#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>
#include <QUrl>
#include <map>

using namespace Qt::StringLiterals;

namespace
{

// Any fixed seed: every run tries the same texts.
constexpr quint32 seed = 20240808;
constexpr int hostTextCount = 10000;
constexpr int proxyTextCount = 2000;
constexpr qsizetype longLength = 64 * 1024;
// Add takes a text that sorts after this many blanks.
constexpr int addThreshold = 27;

QString blanks(qsizetype count)
{
    return QString(count, u' ');
}

// Characters of every class: controls, blanks, ASCII, other scripts,
// combining and invisible marks, noncharacters, and beyond the BMP.
char32_t anyCharacter(QRandomGenerator &random)
{
    static const char32_t marks[] = {0x0301, 0x05d0, 0x0627, 0x200b, 0x200e, 0x202e,
                                     0x2028, 0xfeff, 0xfffd, 0xfffe, 0xffff};
    static const char32_t punctuation[] = {'%', '@',  ':', '/', '[', ']', '?',
                                           '#', '\\', '"', ';', '=', ',', '.'};
    switch (random.bounded(8)) {
    case 0:
        return random.bounded(0x20u);
    case 1:
        return random.bounded(2) ? 0x7fu : 0x80 + random.bounded(0x20u);
    case 2:
        return u' ';
    case 3:
        return 0x21 + random.bounded(0x5eu);
    case 4:
        return 0xa0 + random.bounded(0xd800u - 0xa0);
    case 5:
        return marks[random.bounded(static_cast<int>(std::size(marks)))];
    case 6:
        return 0x1f600 + random.bounded(0x50u);
    default:
        return punctuation[random.bounded(static_cast<int>(std::size(punctuation)))];
    }
}

// Texts a user might type or paste, built from a fixed seed.
class TextGenerator
{
public:
    // Addresses point at `port` on 127.0.0.1 where they name it; `canary` is
    // a file that would pass as a document, should a redirect ever reach it.
    TextGenerator(quint16 port, QString canary)
        : random_(seed), port_(u':' + QString::number(port)), local_(u"127.0.0.1"_s + port_),
          canary_(std::move(canary))
    {
    }

    // Anything at all, or an address with odd parts, sometimes behind blanks
    // and now and then 64 KiB long.
    QString hostText()
    {
        QString text = chance(5) ? blanks(random_.bounded(31)) : QString();
        text += chance(15) ? junk(random_.bounded(40)) : address();
        if (chance(5))
            text += blanks(1 + random_.bounded(3));
        if (random_.bounded(200) == 0)
            text.insert(random_.bounded(text.size() + 1), longRun());
        return text;
    }

    // A proxy in any form, any case, with any user, port and trailer; its host
    // is always a loopback address or a name that no DNS query can carry.
    QString proxyText()
    {
        static const QStringList schemes = {{},
                                            {},
                                            u"http://"_s,
                                            u"https://"_s,
                                            u"socks4://"_s,
                                            u"socks4a://"_s,
                                            u"socks5://"_s,
                                            u"socks5h://"_s,
                                            u"ftp://"_s,
                                            u"file://"_s,
                                            u"gopher://"_s,
                                            u"http:/"_s,
                                            u"x-proxy+1://"_s};
        static const QStringList hosts = {u"127.0.0.1"_s,
                                          u"[::1]"_s,
                                          u"[::ffff:127.0.0.1]"_s,
                                          u"%31%32%37.0.0.1"_s,
                                          u"0x7f.0.0.1"_s,
                                          u"2130706433"_s,
                                          u"127.1"_s,
                                          u"[::1"_s,
                                          u"[fe80::1%25lo]"_s,
                                          tooLongLabel(u'a'),
                                          u"ä"_s + tooLongLabel(u'ö'),
                                          u"例"_s + tooLongLabel(u'え')};
        static const QStringList ports = {u":1"_s,  u":0"_s, u":65536"_s,       u":abc"_s,
                                          u":-1"_s, u":"_s,  u":99999999999"_s, {}};
        static const QStringList trailers = {{},      u"/"_s,     u"/path"_s,
                                             u"?q"_s, u"#frag"_s, u"/%zz"_s};
        QString text = mixedCase(pick(schemes));
        if (chance(20))
            text += chance(5) ? longRun() + u'@' : pick(userInfos());
        text += pick(hosts);
        // Most reach the local server, which takes HTTP and refuses anything else.
        text += chance(60) ? port_ : pick(ports);
        text += chance(5) ? u'/' + longRun() : pick(trailers);
        if (chance(10))
            text = controlsAndBlanks() + text;
        if (chance(10))
            text += controlsAndBlanks();
        return text;
    }

private:
    bool chance(int percent) { return random_.bounded(100) < percent; }
    QString pick(const QStringList &choices)
    {
        return choices[random_.bounded(static_cast<int>(choices.size()))];
    }

    QString junk(int length)
    {
        QString text;
        for (int i = 0; i < length; ++i) {
            const char32_t character = anyCharacter(random_);
            text += QString::fromUcs4(&character, 1);
        }
        return text;
    }

    QString controlsAndBlanks()
    {
        static const QStringList choices = {u"\0"_s,   u"\t"_s,   u"\n"_s,  u" "_s,
                                            u"\r\n"_s, u"\x1b"_s, u"\x7f"_s};
        return pick(choices);
    }

    // One letter 64 KiB times: no dot in it, so as a host it is one label.
    QString longRun() { return QString(longLength, chance(50) ? u'a' : u'é'); }

    static QString tooLongLabel(QChar letter) { return QString(64, letter) + u".invalid"_s; }

    QString mixedCase(const QString &text)
    {
        QString mixed = text;
        for (QChar &character : mixed)
            character = chance(50) ? character.toUpper() : character;
        return mixed;
    }

    static const QStringList &userInfos()
    {
        static const QStringList choices = {
            u"user:pass@"_s, u"us%40er:p%3Ass@"_s, u":@"_s, u"user@"_s, u"ü:ß@"_s, u"a:b:c@"_s};
        return choices;
    }

    QString address()
    {
        static const QStringList schemes = {
            u"http://"_s, u"https://"_s,  u"ftp://"_s,        u"ftps://"_s,    u"file://"_s,
            u"dict://"_s, u"gopher://"_s, u"ldap://"_s,       u"smb://"_s,     u"telnet://"_s,
            u"tftp://"_s, u"scp://"_s,    u"sftp://"_s,       u"imap://"_s,    u"rtsp://"_s,
            u"mqtt://"_s, u"ws://"_s,     u"javascript://"_s, u"socks5h://"_s, u"x-y.z+w://"_s,
            u"http:/"_s,  u"http:"_s,     u"http//"_s,        u"ht tp://"_s,   u"httpx://"_s,
            u"ftp;//"_s,  u" http://"_s,  u"\thttp://"_s};
        static const QStringList hosts = {u"127.0.0.1"_s,
                                          u"[::1]"_s,
                                          u"[::ffff:127.0.0.1]"_s,
                                          u"[fe80::1%25lo]"_s,
                                          u"[::1"_s,
                                          u"::1"_s,
                                          u"2130706433"_s,
                                          u"0x7f.1"_s,
                                          u"localhost"_s,
                                          u"exämple.invalid"_s,
                                          u"例え.テスト"_s,
                                          u"%31%32%37.0.0.1"_s,
                                          u"a b.example"_s,
                                          u"xn--bcher-kva.example"_s,
                                          u"HOST.EXAMPLE"_s,
                                          {},
                                          tooLongLabel(u'a')};
        static const QStringList ports = {u":80"_s, u":0"_s,   u":65535"_s, u":65536"_s,
                                          u":-1"_s, u":abc"_s, u":"_s};
        QString text;
        if (chance(65))
            text += mixedCase(pick(schemes));
        if (chance(15))
            text += pick(userInfos());
        text += chance(15) ? junk(1 + random_.bounded(20)) : pick(hosts);
        if (chance(30))
            text += pick(ports);
        text += path();
        if (chance(10))
            text += junk(random_.bounded(8));
        return text;
    }

    QString path()
    {
        static const QStringList paths = {{},
                                          u"/"_s,
                                          u"/html"_s,
                                          u"/html?query"_s,
                                          u"/missing"_s,
                                          u"/%zz"_s,
                                          u"/%00"_s,
                                          u"/%2e%2e/%2e%2e/etc/passwd"_s,
                                          u"/a b"_s,
                                          u"/?q=%"_s,
                                          u"/#frag"_s};
        if (chance(20))
            return u"/redirect?to="_s + QString::fromLatin1(QUrl::toPercentEncoding(redirect()));
        if (chance(10))
            return u'/' + junk(random_.bounded(20));
        return pick(paths);
    }

    // Where a redirect sends the fetch: one of the four schemes, or any other.
    QString redirect()
    {
        const QStringList targets = {u"file://"_s + canary_,
                                     u"FILE://"_s + canary_,
                                     u"file:"_s + canary_,
                                     u"dict://"_s + local_ + u'/',
                                     u"gopher://"_s + local_,
                                     u"telnet://"_s + local_,
                                     u"ldap://"_s + local_,
                                     u"smb://"_s + local_,
                                     u"tftp://"_s + local_,
                                     u"scp://"_s + local_,
                                     u"/html"_s,
                                     u"HTTP://"_s + local_ + u"/html"_s,
                                     u"ftp://"_s + local_ + u"/html"_s,
                                     u"https://"_s + local_ + u"/html"_s};
        return pick(targets);
    }

    QRandomGenerator random_;
    const QString port_;  // ":port"
    const QString local_; // "127.0.0.1:port"
    const QString canary_;
};

// A text as a failure message shows it: controls escaped, and cut when long.
QString shown(const QString &text)
{
    QString out;
    for (const char32_t character : text.toUcs4()) {
        if (out.size() > 120)
            return out + u"… ("_s + QString::number(text.size()) + u" characters)"_s;
        out += character < 0x20 || character == 0x7f
                   ? QStringLiteral("\\x%1").arg(static_cast<uint>(character), 2, 16, QChar(u'0'))
                   : QString::fromUcs4(&character, 1);
    }
    return out;
}

// The scheme an address is fetched by: its own, in any case, or the method's.
QString schemeOf(const QString &text, Inet::Method method)
{
    static const QRegularExpression withScheme(u"^([A-Za-z][A-Za-z0-9+.-]*)://"_s);
    const QString scheme = withScheme.match(text).captured(1).toLower();
    if (!scheme.isEmpty())
        return scheme;
    return method == Inet::Method::Http ? u"http"_s : u"ftp"_s;
}

bool isFetched(const QString &scheme)
{
    static const QStringList fetched = {u"http"_s, u"https"_s, u"ftp"_s, u"ftps"_s};
    return fetched.contains(scheme);
}

// How a request reached the recording proxy, by the form of its target: an
// absolute URL for HTTP and FTP, a host and port for a tunnel (TLS), a path
// alone when the client came to it directly, not as a proxy.
enum class Asked { Http, Ftp, Tunnel, Direct, Other };

Asked howAsked(const QString &target)
{
    if (target.startsWith(u"http://"))
        return Asked::Http;
    if (target.startsWith(u"ftp://"))
        return Asked::Ftp;
    if (target.startsWith(u'/'))
        return Asked::Direct;
    return target.contains(u"://") ? Asked::Other : Asked::Tunnel;
}

Asked expectedFirst(const QString &scheme)
{
    if (scheme == u"http")
        return Asked::Http;
    if (scheme == u"ftp")
        return Asked::Ftp;
    return Asked::Tunnel;
}

// The proxy served a document only to an absolute URL with the path /html.
bool servedADocument(const QStringList &targets)
{
    if (targets.isEmpty())
        return false;
    const Asked asked = howAsked(targets.last());
    return (asked == Asked::Http || asked == Asked::Ftp) && QUrl(targets.last()).path() == u"/html";
}

QStringList hostsOf(const QListWidget *list)
{
    QStringList hosts;
    for (int row = 0; row < list->count(); ++row)
        hosts.append(list->item(row)->text());
    return hosts;
}

// What the attempts met, to show that every kind of text was tried.
struct Tally {
    int longTexts = 0;
    int refusedSchemes = 0;
    int failedBeforeAsking = 0; // refused by libcurl, or holding a NUL
    std::map<Asked, int> firstAsked;
    int documents = 0;
};

} // namespace

class BadInputTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(proxy.isListening());
        // A SOCKS greeting or a TLS hello gets its refusal at once.
        proxy.refuseWhatIsNotHttp();
        QVERIFY(canary.open());
        QCOMPARE(canary.write("<html>"), 6);
        canary.close();
    }

    void init()
    {
        rig = std::make_unique<TestRig>();
        w = &rig->window();
        w->List1->clear();
    }
    void cleanup() { rig.reset(); }

    void hostTextsThroughAddAnAttemptSaveAndLoad()
    {
        TextGenerator generate(proxy.port(), canary.fileName());
        QStringList accepted;
        for (int i = 0; i < hostTextCount; ++i) {
            const QString text = generate.hostText();
            rig->dialogs.answerInputBox(text);
            w->Command5_Click();
            if (text > blanks(addThreshold))
                accepted.append(text);
        }
        QCOMPARE(hostsOf(w->List1), accepted);

        w->Check1->setChecked(true);
        w->Text1->setText(proxy.address(QString()));
        Tally tally;
        for (int row = 0; row < accepted.size(); ++row) {
            attemptRow(row, accepted[row], tally);
            if (QTest::currentTestFailed())
                return;
        }
        qInfo("%lld of %d texts accepted, %d of them 64 KiB long; %d refused for their "
              "scheme, %d failed before asking; first requests: %d HTTP, %d FTP, %d tunnels; "
              "%d documents",
              accepted.size(), hostTextCount, tally.longTexts, tally.refusedSchemes,
              tally.failedBeforeAsking, tally.firstAsked[Asked::Http], tally.firstAsked[Asked::Ftp],
              tally.firstAsked[Asked::Tunnel], tally.documents);
        // Every kind of outcome came up, so none of the checks above was idle.
        QVERIFY(tally.longTexts > 0);
        QVERIFY(tally.refusedSchemes > 0);
        QVERIFY(tally.failedBeforeAsking > 0);
        for (const Asked asked : {Asked::Http, Asked::Ftp, Asked::Tunnel})
            QVERIFY(tally.firstAsked[asked] > 0);
        QVERIFY(tally.documents > 0);

        QCOMPARE(w->save(), std::nullopt);
        TestRig reopened;
        QVERIFY(copySettings(*rig, reopened));
        QCOMPARE(hostsOf(reopened.window().List1), accepted);
    }

    void proxyTextsThroughAnAttemptSaveAndLoad()
    {
        TextGenerator generate(proxy.port(), canary.fileName());
        const QString target = proxy.address(u"/html"_s);
        int documents = 0;
        for (int i = 0; i < proxyTextCount; ++i) {
            const QString text = generate.proxyText();
            w->Check1->setChecked(true);
            w->Text1->setText(text);
            // The box takes at most maxLength() characters of a paste.
            const QString typed = w->Text1->text();
            QCOMPARE(typed, text.left(w->Text1->maxLength()));
            const bool viaFtp = i % 2;
            w->List1->clear();
            w->List1->addItem(target);
            const qsizetype before = proxy.requests.size();
            viaFtp ? w->ftpd() : w->httpd();

            const QStringList asked = proxy.requests.mid(before);
            const QString expected = (viaFtp ? u"ftp://"_s : u"http://"_s) + target;
            // Through that proxy or not at all: never direct, never elsewhere.
            for (const QString &request : asked)
                QVERIFY2(request == expected, qPrintable(shown(text) + u" asked "_s + request));
            QCOMPARE(w->good + w->bad, i + 1);
            QCOMPARE(w->good, documents + (asked.isEmpty() ? 0 : 1));
            documents = w->good;

            // Unticking empties the address box; the load of a start-up fills it again.
            QCOMPARE(w->save(), std::nullopt);
            w->Check1->setChecked(false);
            w->List1->clear();
            w->loadsettings();
            QVERIFY2(w->Check1->isChecked(), qPrintable(shown(text)));
            QVERIFY2(w->Text1->text() == typed, qPrintable(shown(text)));
            QCOMPARE(hostsOf(w->List1), QStringList{target});
        }
        qInfo("%d proxy texts, %d fetched a document through the proxy", proxyTextCount, documents);
        QVERIFY(documents > 0);
        QVERIFY(w->bad > 0);
    }

    void aTextWithANulIsNeverFetched_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("proxyText");
        const QString nul(1, QChar());
        const QString page = proxy.address(u"/html"_s);
        const QString server = proxy.address(QString());
        QTest::newRow("in the address") << page + nul + u".example"_s << QString();
        QTest::newRow("before the proxy") << page << nul + server;
        QTest::newRow("after the proxy") << page << server + nul + u"junk"_s;
    }

    // libcurl would read either text only up to the NUL.
    void aTextWithANulIsNeverFetched()
    {
        QFETCH(QString, host);
        QFETCH(QString, proxyText);
        w->List1->addItem(host);
        w->Check1->setChecked(!proxyText.isEmpty());
        w->Text1->setText(proxyText);
        const int connections = proxy.connections();
        w->Command1_Click();
        QCOMPARE(w->bad, 1);
        QCOMPARE(proxy.connections(), connections);
    }

private:
    // One attempt on the row's host, by HTTP and FTP in turn, through the
    // recording proxy.
    void attemptRow(int row, const QString &text, Tally &tally)
    {
        const Inet::Method method = row % 2 ? Inet::Method::Ftp : Inet::Method::Http;
        const int goodBefore = w->good;
        const int badBefore = w->bad;
        const qsizetype before = proxy.requests.size();
        w->intv = static_cast<std::int16_t>(row);
        method == Inet::Method::Http ? w->httpd() : w->ftpd();

        const QString scheme = schemeOf(text, method);
        const QStringList asked = proxy.requests.mid(before);
        const QByteArray what = QStringLiteral("row %1: %2 asked %3")
                                    .arg(row)
                                    .arg(shown(text), asked.join(u' '))
                                    .toUtf8();
        const QString tag = method == Inet::Method::Http ? u"[HTTP] "_s : u"[FTP] "_s;
        QVERIFY2(w->Label1->text() == u"Remote Host: "_s + tag + text, what.constData());
        QCOMPARE(w->good + w->bad, goodBefore + badBefore + 1);
        const bool succeeded = w->good > goodBefore;
        QVERIFY2(succeeded == servedADocument(asked), what.constData());
        tally.longTexts += text.size() >= longLength ? 1 : 0;
        if (!isFetched(scheme)) {
            QVERIFY2(asked.isEmpty(), what.constData());
            ++tally.refusedSchemes;
            return;
        }
        if (asked.isEmpty()) {
            ++tally.failedBeforeAsking;
            return;
        }
        // The first request shows the address's own scheme; a redirect may
        // lead to another of the four, never anywhere else.
        const Asked first = howAsked(asked.first());
        QVERIFY2(first == expectedFirst(scheme), what.constData());
        for (const QString &request : asked) {
            const Asked how = howAsked(request);
            QVERIFY2(how != Asked::Direct && how != Asked::Other, what.constData());
        }
        ++tally.firstAsked[first];
        tally.documents += succeeded ? 1 : 0;
    }

    // The reopened window finds the settings file where the first one left it.
    static bool copySettings(TestRig &from, TestRig &to)
    {
        const QString source = from.settings().fileName(u"Quorrel"_s);
        const QString destination = to.settings().fileName(u"Quorrel"_s);
        return QDir().mkpath(QFileInfo(destination).path()) && QFile::copy(source, destination);
    }

    LocalHttpServer proxy;
    QTemporaryFile canary;
    std::unique_ptr<TestRig> rig;
    frmmain *w = nullptr;
};

QTEST_MAIN(BadInputTest)
#include "test_bad_input.moc"
