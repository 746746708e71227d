// Two Quorrel instances saving their settings and optimizing at the same
// moment, 500 times: after each round both files parse and hold the whole of
// what one of the two wrote.

#include "platform/StoreFile.h"
#include "store_writers.h"

#include <QSet>
#include <QTest>

namespace
{

constexpr int rounds = 500;

// The store that one instance's "&Optimize" leaves when it has the store to itself.
QByteArray optimizedAlone(const TcpSnapshot &values)
{
    QTemporaryDir dir;
    FileRegistry registry(dir.filePath(QStringLiteral("registry.reg")));
    return values.writeTo(registry) == modRegistry::Done ? bytesOf(registry.fileName())
                                                         : QByteArray();
}

} // namespace

class TwoInstancesTest : public QObject
{
    Q_OBJECT

private slots:
    void theLastWriterWinsWhole()
    {
        const QTemporaryDir home;
        const QString config = home.filePath(QStringLiteral("config"));
        const QString registry = home.filePath(QStringLiteral("registry.reg"));
        const QString settings = QtSettingsStore(config).fileName(QStringLiteral("Quorrel"));
        const QSet<QString> wholeSettingsFiles = {wholeSettings(firstOfTwo()),
                                                  wholeSettings(secondOfTwo())};
        const QSet<QByteArray> wholeStores = {optimizedAlone(profile56k()),
                                              optimizedAlone(profile28k())};

        StoreWriter first({QStringLiteral("race"), config, registry, QStringLiteral("0")});
        StoreWriter second({QStringLiteral("race"), config, registry, QStringLiteral("1")});
        QVERIFY(first.started() && second.started());
        for (int round = 0; round < rounds; ++round) {
            // With no registry store both instances create its keys, and a
            // write made on what the other had not yet written would lose them.
            QFile::remove(registry);
            QVERIFY(first.startRound() && second.startRound());
            QVERIFY2(first.waitForWrite(), qPrintable(first.failure()));
            QVERIFY2(second.waitForWrite(), qPrintable(second.failure()));
            const QString where = QStringLiteral("round %1").arg(round);
            QVERIFY2(wholeSettingsFiles.contains(storedSettings(settings)), qPrintable(where));
            QVERIFY2(wholeStores.contains(bytesOf(registry)), qPrintable(where));
        }
        QVERIFY2(first.finish(), qPrintable(first.failure()));
        QVERIFY2(second.finish(), qPrintable(second.failure()));
    }

    // Another instance that holds a store's lock for longer than a write
    // waits, a few seconds, as a hung one would.
    void aSaveWaitsForTheOtherInstanceThenSaysSo()
    {
        const QTemporaryDir home;
        QtSettingsStore settings(home.filePath(QStringLiteral("config")));
        QVERIFY(!firstOfTwo().saveTo(settings));
        const QString file = settings.fileName(QStringLiteral("Quorrel"));
        const QByteArray before = bytesOf(file);
        const StoreLock otherInstance(file + QStringLiteral(".save"));
        QCOMPARE(otherInstance.state(), StoreLock::State::Locked);
        QCOMPARE(secondOfTwo().saveTo(settings),
                 QStringLiteral("Another Quorrel is saving its settings in %1. Try again in a "
                                "moment.")
                     .arg(file));
        QCOMPARE(bytesOf(file), before);
    }

    void anOptimizeWaitsForTheOtherInstanceThenSaysSo()
    {
        const QTemporaryDir home;
        FileRegistry registry(home.filePath(QStringLiteral("registry.reg")));
        QCOMPARE(profile56k().writeTo(registry), modRegistry::Done);
        const QByteArray before = bytesOf(registry.fileName());
        const StoreLock otherInstance(registry.fileName());
        QCOMPARE(otherInstance.state(), StoreLock::State::Locked);
        QCOMPARE(TcpSnapshot::write(registry, profile28k().writes().first()), Registry::ERROR_BUSY);
        QCOMPARE(bytesOf(registry.fileName()), before);
    }
};

QTEST_GUILESS_MAIN(TwoInstancesTest)
#include "test_two_instances.moc"
