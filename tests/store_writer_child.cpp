// A Quorrel instance cut down to its two stores, for the tests that kill one
// in the middle of a write or race two of them. It has no window: it writes
// what the window's save and "&Optimize" write, through the same stores.
//
//   store_writer_child crash settings <config folder>
//       saves the two sets of settings_snapshots.h in turn until it is killed;
//   store_writer_child crash registry <registry file>
//       writes the registry values of alternatingWrite() until it is killed;
//   store_writer_child race <config folder> <registry file> <0 or 1>
//       for each line of its input, saves the first or the second set of
//       settings and optimizes for a 56.6 or a 28.8 Kbps modem.
//
// It prints "written" after each save, each registry value and each round.

#include "registry_snapshots.h"
#include "settings_snapshots.h"

#include <QCoreApplication>
#include <QTextStream>

namespace
{

void reportWritten()
{
    QTextStream(stdout) << "written" << Qt::endl;
}

int failed(const QString &why)
{
    QTextStream(stderr) << why << Qt::endl;
    return 1;
}

int saveSettingsUntilKilled(const QString &configFolder)
{
    QtSettingsStore store(configFolder);
    const SettingsSnapshot sets[] = {firstOfTwo(), secondOfTwo()};
    for (int save = 0;; ++save) {
        if (const std::optional<QString> why = sets[save % 2].saveTo(store))
            return failed(*why);
        reportWritten();
    }
}

int writeRegistryUntilKilled(const QString &fileName)
{
    FileRegistry registry(fileName);
    for (int write = 0;; ++write) {
        const std::int32_t status = TcpSnapshot::write(registry, alternatingWrite(write));
        if (status != modRegistry::Done)
            return failed(Registry::describe(status));
        reportWritten();
    }
}

int raceOnEachLine(const QString &configFolder, const QString &registryFile, int instance)
{
    QtSettingsStore settings(configFolder);
    FileRegistry registry(registryFile);
    const SettingsSnapshot saved = instance == 0 ? firstOfTwo() : secondOfTwo();
    const TcpSnapshot optimized = instance == 0 ? profile56k() : profile28k();
    QTextStream in(stdin);
    while (!in.readLine().isNull()) {
        if (const std::optional<QString> why = saved.saveTo(settings))
            return failed(*why);
        if (const std::int32_t status = optimized.writeTo(registry); status != modRegistry::Done)
            return failed(Registry::describe(status));
        reportWritten();
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() == 3 && arguments[0] == u"crash" && arguments[1] == u"settings")
        return saveSettingsUntilKilled(arguments[2]);
    if (arguments.size() == 3 && arguments[0] == u"crash" && arguments[1] == u"registry")
        return writeRegistryUntilKilled(arguments[2]);
    if (arguments.size() == 4 && arguments[0] == u"race")
        return raceOnEachLine(arguments[1], arguments[2], arguments[3].toInt());
    return failed(QStringLiteral("usage: see the head of store_writer_child.cpp"));
}
