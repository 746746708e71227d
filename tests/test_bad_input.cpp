// Odd host and proxy texts through Add, the proxy box, a save and the load of
// the next start: a host is taken when it sorts after 27 blanks, and every
// text taken comes back exactly.

#include "support/TestRig.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

class BadInputTest : public QObject
{
    Q_OBJECT

private slots:
    void textsComeBackAfterASaveAndALoad_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("taken");
        const QString blanks27(27, u' ');
        QTest::newRow("27 blanks") << blanks27 << false;
        QTest::newRow("28 blanks") << blanks27 + u' ' << true;
        QTest::newRow("27 blanks and a tab") << blanks27 + u'\t' << true;
        QTest::newRow("26 blanks and a tab") << blanks27.left(26) + u'\t' << false;
        QTest::newRow("blanks, then a host") << blanks27 + u"x"_s << true;
        QTest::newRow("NUL inside") << u"host"_s + QChar() + u"tail"_s << true;
        QTest::newRow("line breaks") << u"a\nb\r\nc\rd"_s << true;
        QTest::newRow("controls") << u"a\t\x1b\x7f\u0085"_s << true;
        QTest::newRow("INI syntax") << u"[General]\nkey=value ;x \\ \"q\" %20 #"_s << true;
        QTest::newRow("marks and noncharacters")
            << u"\u202e\ufeff\u200b\u0301\ufffe\uffff"_s << true;
        QTest::newRow("beyond the BMP") << u"host\U0001F600例え.テスト"_s << true;
        QTest::newRow("64 KiB") << u"http://"_s + QString(64 * 1024, u'é') << true;
    }

    void textsComeBackAfterASaveAndALoad()
    {
        QFETCH(QString, text);
        QFETCH(bool, taken);
        TestRig first;
        frmmain &w = first.window();
        w.List1->clear();
        for (const QString &typed : {u"kept.example"_s, text}) {
            first.dialogs.answerInputBox(typed);
            w.Command5->click();
        }
        const QStringList hosts =
            QStringList{u"kept.example"_s} + (taken ? QStringList{text} : QStringList());
        QCOMPARE(hostsOf(w), hosts);
        w.Check1->setChecked(true);
        w.Text1->setText(text);
        // The box takes at most maxLength() characters of a paste.
        const QString proxy = text.left(w.Text1->maxLength());
        QCOMPARE(w.Text1->text(), proxy);
        QCOMPARE(w.save(), std::nullopt);

        TestRig next;
        const QString from = first.settings().fileName(u"Quorrel"_s);
        const QString to = next.settings().fileName(u"Quorrel"_s);
        QVERIFY(QDir().mkpath(QFileInfo(to).path()) && QFile::copy(from, to));
        QCOMPARE(hostsOf(next.window()), hosts);
        QVERIFY(next.window().Check1->isChecked());
        QCOMPARE(next.window().Text1->text(), proxy);
    }

private:
    static QStringList hostsOf(const frmmain &w)
    {
        QStringList hosts;
        for (int row = 0; row < w.List1->count(); ++row)
            hosts.append(w.List1->item(row)->text());
        return hosts;
    }
};

QTEST_MAIN(BadInputTest)
#include "test_bad_input.moc"
