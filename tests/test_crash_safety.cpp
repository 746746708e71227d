// A write of either store ended by a kill at a random moment, 200 times for
// each: the file then holds the whole of the last write that the writer
// finished, or of the one under way, and never a part of one.

#include "platform/RegistryDocument.h"
#include "store_writers.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QThread>
#include <functional>

namespace
{

constexpr int runs = 200;
// The same moments on every run of the test; a failure names its run.
constexpr quint32 seed = 20261206;

// What the registry writer of alternatingWrite() leaves after its first
// `count` writes on the store `before`, and on the way through the next one:
// a value in a new key takes two replacements of the file, the key's and the
// value's.
QSet<QByteArray> registryStoresAround(const QByteArray &before, int count)
{
    std::optional<RegistryDocument> document = RegistryDocument::parse(before);
    if (!document)
        return {};
    const auto keyOf = [](const TcpSnapshot::Write &write) {
        return QStringLiteral("HKEY_LOCAL_MACHINE\\") + write.keyPath;
    };
    const auto store = [&](const TcpSnapshot::Write &write) {
        document->setValue(keyOf(write),
                           {write.name, Registry::REG_SZ, write.value.toLocal8Bit() + '\0'});
    };
    for (int index = 0; index < count; ++index)
        store(alternatingWrite(index));
    QSet<QByteArray> stores{document->serialize()};
    const TcpSnapshot::Write next = alternatingWrite(count);
    if (document->createKey(keyOf(next)))
        stores.insert(document->serialize());
    store(next);
    stores.insert(document->serialize());
    return stores;
}

// Where a writer of one store writes, and whether the file there holds one
// whole write, given what it held before and how many writes the writer
// reported done.
struct CrashedStore {
    QString target; // the writer's argument
    QString file;
    std::function<bool(const QByteArray &before, int writes)> isWhole;
};

CrashedStore settingsIn(const QString &home)
{
    const QString folder = home + QStringLiteral("/config");
    const QString file = QtSettingsStore(folder).fileName(QStringLiteral("Quorrel"));
    // The writer saves the two sets in turn, so any whole save is one of them.
    const QSet<QString> whole = {wholeSettings(firstOfTwo()), wholeSettings(secondOfTwo())};
    return {folder, file,
            [=](const QByteArray &, int) { return whole.contains(storedSettings(file)); }};
}

CrashedStore registryIn(const QString &home)
{
    const QString file = home + QStringLiteral("/registry.reg");
    return {file, file, [=](const QByteArray &before, int writes) {
                return registryStoresAround(before, writes).contains(bytesOf(file));
            }};
}

} // namespace

class CrashSafetyTest : public QObject
{
    Q_OBJECT

private slots:
    void killedInTheMiddleOfAWriteLeavesOneWholeFile_data()
    {
        QTest::addColumn<QString>("store");
        QTest::newRow("settings") << QStringLiteral("settings");
        QTest::newRow("registry") << QStringLiteral("registry");
    }

    void killedInTheMiddleOfAWriteLeavesOneWholeFile()
    {
        QFETCH(QString, store);
        // One folder for all runs, as for a user whose Quorrel crashes over and
        // over: each run starts from what the one before left, its lock file
        // and temporary files included.
        const QTemporaryDir home;
        const CrashedStore crashed =
            store == u"settings" ? settingsIn(home.path()) : registryIn(home.path());
        QRandomGenerator random(seed);
        for (int run = 0; run < runs; ++run) {
            const QByteArray before = bytesOf(crashed.file);
            StoreWriter writer({QStringLiteral("crash"), store, crashed.target});
            QVERIFY(writer.started());
            // Once a write is done there is something to lose; from then on
            // the writer is always in the middle of the next one.
            for (int writes = random.bounded(1, 4); writes > 0; --writes)
                QVERIFY2(writer.waitForWrite(), qPrintable(writer.failure()));
            QThread::usleep(random.bounded(20000));
            writer.kill();
            QVERIFY2(crashed.isWhole(before, writer.writesReported()),
                     qPrintable(QStringLiteral("run %1 of seed %2").arg(run).arg(seed)));
        }
    }
};

QTEST_GUILESS_MAIN(CrashSafetyTest)
#include "test_crash_safety.moc"
