// Both stores written by Quorrels killed at a random moment of a write, or
// writing at the same moment as another: the file then holds the whole of
// one write, never a part of one or a mix of two.

#include "settings_snapshots.h"
#include "support/TestRig.h"

#include <QProcess>
#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace
{

// One store_writer_child: a write for each line it is given.
class Writer
{
public:
    Writer(const QString &store, const QString &path, const QString &sets)
    {
        process_.start(QStringLiteral(STORE_WRITER_CHILD), {store, path, sets});
    }
    ~Writer()
    {
        process_.kill();
        process_.waitForFinished();
    }

    // QProcess passes the lines on only while it waits for this process.
    bool ask(int writes)
    {
        return process_.write(QByteArray(writes, '\n')) == writes && process_.waitForBytesWritten();
    }

    bool waitForWrite()
    {
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(10000)) {
                qWarning("%s", process_.readAllStandardError().constData());
                return false;
            }
        return process_.readLine() == "written\n";
    }

private:
    QProcess process_;
};

} // namespace

class CrashSafetyTest : public QObject
{
    Q_OBJECT

private slots:
    void oneWholeWriteSurvives_data()
    {
        QTest::addColumn<QString>("store");
        QTest::addColumn<int>("writers"); // one is killed, two race
        QTest::addColumn<int>("runs");
        QTest::newRow("settings, killed") << u"settings"_s << 1 << 200;
        QTest::newRow("registry, killed") << u"registry"_s << 1 << 200;
        QTest::newRow("settings, two at once") << u"settings"_s << 2 << 500;
        QTest::newRow("registry, two at once") << u"registry"_s << 2 << 500;
    }

    void oneWholeWriteSurvives()
    {
        QFETCH(QString, store);
        QFETCH(int, writers);
        QFETCH(int, runs);
        // One folder for all runs: each starts from what the one before left.
        TestRig rig;
        const bool registry = store == u"registry";
        const QString path = registry ? rig.registry().fileName() : rig.home() + u"/config"_s;
        const QString file = registry ? path : rig.settingsFile();
        // The two registry stores that whole writes leave.
        QList<QByteArray> wholeStores;
        for (int set = 0; registry && set < 2; ++set) {
            const QString alone = rig.home() + u"/alone%1.reg"_s.arg(set);
            Writer writer(store, alone, QString::number(set));
            QVERIFY(writer.ask(1) && writer.waitForWrite());
            wholeStores.append(fileBytes(alone));
        }
        const QList<QMap<QString, QString>> wholeSettings{oneOfTwo(true).storedKeys(),
                                                          oneOfTwo(false).storedKeys()};
        // The same moments on every run of the test; a failure names its run.
        QRandomGenerator random(20261206);
        Writer first(store, path, u"0"_s), second(store, path, u"1"_s);
        for (int run = 0; run < runs; ++run) {
            if (writers == 1) {
                Writer writer(store, path, u"01"_s);
                QVERIFY(writer.ask(1000));
                // Killed after a whole write, in the middle of the next one.
                for (int writes = random.bounded(1, 4); writes > 0; --writes)
                    QVERIFY(writer.waitForWrite());
                QThread::usleep(random.bounded(20000));
            } else {
                // With no store both create its keys: neither may lose the other's.
                QFile::remove(path);
                QVERIFY(first.ask(1) && second.ask(1));
                QVERIFY(first.waitForWrite() && second.waitForWrite());
            }
            QVERIFY2(registry ? wholeStores.contains(fileBytes(file))
                              : wholeSettings.contains(storedOptions(file)),
                     qPrintable(u"run %1"_s.arg(run)));
        }
    }
};

QTEST_GUILESS_MAIN(CrashSafetyTest)
#include "test_crash_safety.moc"
