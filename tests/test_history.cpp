// The History window: a table of attempts logs, written as files, against what
// the window shows and tells a screen reader; then the way in from the window.

#include "history/HistoryWindow.h"
#include "support/LocalHttpServer.h"
#include "support/TestRig.h"

using namespace Qt::StringLiterals;

namespace
{

// A log written from a script of words, one a minute up to now: `ok` answered,
// `x` failed ("HTTP 404"), `t` timed out, each at one of two hosts in turn;
// `stop` an attempt ended by Stop; `gap*N` N minutes without attempts;
// `back*N` the clock set back N minutes; `junk` a line of no format; `torn` a
// last line cut short; `|` ends the rolled-over file. `word*N` is N of them.
// Stamps are written at +05:30, as a user east of UTC has them.
struct ScriptedLog {
    QByteArray rolledOver;
    QByteArray current;
};

QByteArray line(qint64 secondsAgo, const QByteArray &host, const QByteArray &outcome,
                const QByteArray &reason)
{
    const QDateTime at =
        QDateTime::currentDateTimeUtc().addSecs(-secondsAgo).toOffsetFromUtc(19800);
    return at.toString(u"yyyy-MM-dd'T'HH:mm:ss'+05:30'"_s).toUtf8() + "\tHTTP\t" + host + '\t' +
           outcome + '\t' + reason + "\t12 ms\t100 bytes\n";
}

ScriptedLog writtenFrom(const QString &script)
{
    struct Step {
        QString word;
        qint64 minute;
    };
    QList<Step> steps;
    qint64 minute = 0;
    for (const QString &token : script.split(u' ', Qt::SkipEmptyParts)) {
        const QString word = token.section(u'*', 0, 0);
        const int times = token.contains(u'*') ? token.section(u'*', 1).toInt() : 1;
        if (word == u"|")
            steps.append({word, minute});
        else if (word == u"gap" || word == u"back")
            minute += word == u"gap" ? times : -times;
        else
            for (int time = 0; time < times; ++time)
                steps.append({word, minute++});
    }
    ScriptedLog log;
    QByteArray *file = &log.rolledOver;
    const qint64 last = minute - 1;
    for (qsizetype index = 0; index < steps.size(); ++index) {
        const QString &word = steps[index].word;
        const qint64 ago = (last - steps[index].minute) * 60;
        const QByteArray host = index % 2 ? "a.test" : "b.test";
        if (word == u"|")
            file = &log.current;
        else if (word == u"junk")
            *file += "hand-written note\n";
        else if (word == u"torn")
            *file += line(ago, host, "ok", {}).left(15);
        else
            *file += line(ago, host, word == u"ok" ? "ok" : "failed",
                          word == u"ok"  ? ""
                          : word == u"x" ? "HTTP 404"
                          : word == u"t" ? "timed out after 15 s"
                                         : "stopped");
    }
    if (log.current.isEmpty())
        std::swap(log.current, log.rolledOver);
    return log;
}

QString outageRows(const QTreeWidget *outages)
{
    QStringList rows;
    for (int row = 0; row < outages->topLevelItemCount(); ++row) {
        const QTreeWidgetItem *item = outages->topLevelItem(row);
        rows.append(u"%1 %2 %3 %4"_s.arg(item->text(1) == u"still down" ? u"down"_s : u"ended"_s,
                                         item->text(2), item->text(3), item->text(4)));
    }
    return rows.join(u"; "_s);
}

// The strip's tool tip where the pointer rests `hoursAgo` before now.
QString tipAt(QWidget *strip, double hoursAgo)
{
    const QPoint at(int(strip->width() * (1 - hoursAgo / 24)), strip->height() / 2);
    QHelpEvent help(QEvent::ToolTip, at, strip->mapToGlobal(at));
    QApplication::sendEvent(strip, &help);
    const QString tip = QToolTip::text();
    QToolTip::hideText();
    return QTextDocumentFragment::fromHtml(tip).toPlainText().section(u'\n', -1);
}

} // namespace

class HistoryTest : public QObject
{
    Q_OBJECT

private slots:
    void theWindowTellsTheLogsStory_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("day");
        QTest::addColumn<QString>("answered");
        QTest::addColumn<QString>("outages");
        QTest::addColumn<QString>("anHourAgo");
        QTest::addColumn<QString>("skipped");
        const QString idle = u"Quorrel was not running or was stopped"_s;
        QTest::newRow("empty log")
            << u""_s << u"0 answered, 0 failed, no outage"_s
            << u"no attempts in the last 24 hours, no attempts"_s << u""_s << idle << u""_s;
        QTest::newRow("one answer")
            << u"ok"_s << u"1 answered, 0 failed, no outage"_s
            << u"100.0 % in the last 24 hours, 100.0 %"_s << u""_s << idle << u""_s;
        QTest::newRow("two outages")
            << u"ok*60 x*3 ok*60 t*12 ok*10"_s
            << u"130 answered, 15 failed, 2 outages, the longest 12 minutes"_s
            << u"89.7 % in the last 24 hours, 89.7 %"_s
            << u"ended 12 minutes 2 timed out after 15 s; ended 3 minutes 2 HTTP 404"_s
            << u"answered"_s << u""_s;
        QTest::newRow("outage still running")
            << u"ok*90 x t x"_s << u"90 answered, 3 failed, 1 outage of 2 minutes"_s
            << u"96.8 % in the last 24 hours, 96.8 %"_s
            << u"down 2 minutes 2 HTTP 404, timed out after 15 s"_s << u"answered"_s << u""_s;
        QTest::newRow("stopped, then not running")
            << u"ok*10 stop gap*30 ok*5 gap*120 ok*10"_s << u"25 answered, 0 failed, no outage"_s
            << u"100.0 % in the last 24 hours, 100.0 %"_s << u""_s << idle << u""_s;
        QTest::newRow("torn and garbage lines")
            << u"ok*5 junk ok*70 torn"_s << u"75 answered, 0 failed, no outage"_s
            << u"100.0 % in the last 24 hours, 100.0 %"_s << u""_s << u"answered"_s
            << u"2 lines of the log could not be read and were skipped."_s;
        QTest::newRow("rolled over and current")
            << u"ok*50 x*2 | ok*40"_s << u"90 answered, 2 failed, 1 outage of 2 minutes"_s
            << u"97.8 % in the last 24 hours, 97.8 %"_s << u"ended 2 minutes 2 HTTP 404"_s
            << u"answered"_s << u""_s;
        QTest::newRow("clock set back an hour")
            << u"ok*30 back*60 ok*70 x*2 ok*3"_s
            << u"103 answered, 2 failed, 1 outage of 2 minutes"_s
            << u"98.1 % in the last 24 hours, 98.1 %"_s << u"ended 2 minutes 2 HTTP 404"_s
            << u"answered"_s << u""_s;
    }

    void theWindowTellsTheLogsStory()
    {
        QFETCH(QString, script);
        const QTemporaryDir folder;
        const AttemptLog log(folder.filePath(u"attempts.log"_s));
        const ScriptedLog written = writtenFrom(script);
        QVERIFY(written.rolledOver.isEmpty() ||
                writeWholeFile(log.fileName() + u".1"_s, written.rolledOver));
        QVERIFY(script.isEmpty() || writeWholeFile(log.fileName(), written.current));
        HistoryWindow window(log);
        window.resize(600, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        auto *strip = window.findChild<QWidget *>(u"strip"_s);
        QTEST(strip->accessibleDescription().section(u": "_s, 1), "day");
        QFETCH(QString, answered);
        QCOMPARE(window.findChild<QLabel *>(u"answered"_s)->text(),
                 u"Answered: "_s + answered + u" in the last 7 days"_s);
        QTEST(outageRows(window.findChild<QTreeWidget *>()), "outages");
        QTEST(tipAt(strip, 1), "anHourAgo");
        auto *skipped = window.findChild<QLabel *>(u"skipped"_s);
        QTEST(skipped->isVisible() ? skipped->text() : QString(), "skipped");
    }

    // "History…" on a count label opens the window, which follows the attempts.
    void theCountLabelsLeadToAHistoryThatFollowsTheAttempts()
    {
        TestRig rig;
        frmmain &w = rig.window();
        const LocalHttpServer http;
        w.List1->clear();
        w.List1->addItem(http.address(u"/html"_s));
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5),
                                     w.Label3->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(w.Label3, &rightClick);
        auto *menu = w.findChild<QMenu *>(u"historyMenu"_s);
        QTRY_VERIFY(menu && menu->isVisible());
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
        QWidget *history = nullptr;
        QTRY_VERIFY((history = historyWindow()) && history->isVisible());
        auto *strip = history->findChild<QWidget *>(u"strip"_s);
        QCOMPARE(strip->accessibleDescription(),
                 u"last 24 hours: 0 answered, 0 failed, no outage"_s);
        w.Command1->click();
        QCOMPARE(strip->accessibleDescription(),
                 u"last 24 hours: 1 answered, 0 failed, no outage"_s);
        w.Command3->click();
    }

private:
    static QWidget *historyWindow()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        const auto found = std::find_if(windows.cbegin(), windows.cend(), [](QWidget *window) {
            return qobject_cast<HistoryWindow *>(window) != nullptr;
        });
        return found == windows.cend() ? nullptr : *found;
    }
};

QTEST_MAIN(HistoryTest)
#include "test_history.moc"
