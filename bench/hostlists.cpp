// Long host lists: saving and loading them, and Add and Remove in one of
// 10,000 hosts. The window is shown on the Hosts page, as when the user
// works there, and each figure includes the event-loop turns that follow
// the change, in which the list lays itself out and repaints.

#include "bench/BenchRig.h"
#include "bench/Measurements.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QTabWidget>

namespace
{

constexpr int editedListLength = 10000;

QStringList manyHosts(int count)
{
    QStringList hosts;
    for (int number = 0; number < count; ++number)
        hosts.append(QStringLiteral("host%1.example.org").arg(number));
    return hosts;
}

template <typename Work> double millisecondsOf(Work work)
{
    const SteadyTime before = std::chrono::steady_clock::now();
    work();
    settle();
    return millisecondsBetween(before, std::chrono::steady_clock::now());
}

// The saved file, copied into a new folder: a load from it reads the disk,
// as at start-up, and not the copy QSettings keeps of a file it has written.
void loadFromFreshCopy(BenchRig &rig)
{
    const QString folder = rig.freshFolder();
    const QString copy = folder + QStringLiteral("/Quorrel/Quorrel.ini");
    QDir().mkpath(QFileInfo(copy).path());
    QFile::copy(rig.settings().fileName(), copy);
    rig.settings().reopenAt(folder);
}

void showHostsPage(frmmain &window)
{
    window.show();
    window.SSTab1->setCurrentWidget(window.List1->parentWidget());
    settle();
}

void measureSaveAndLoad(const Options &options, int count, Table &table)
{
    BenchRig rig;
    frmmain &window = rig.window();
    showHostsPage(window);
    rig.setHosts(manyHosts(count));
    settle();
    // Every timed save replaces a file of the same hosts, as a user's does.
    static_cast<void>(window.save());

    QList<double> saves;
    QList<double> loads;
    QList<double> both;
    bool complete = true;
    for (int run = 0; run < options.hostListRuns; ++run) {
        saves.append(millisecondsOf([&] { static_cast<void>(window.save()); }));
        loadFromFreshCopy(rig);
        window.List1->clear();
        settle();
        loads.append(millisecondsOf([&] { window.loadsettings(); }));
        both.append(saves.last() + loads.last());
        complete = complete && window.List1->count() == count;
    }
    const std::optional<Summary> saveAndLoad = summarize(both);
    const bool judged = count == editedListLength;
    QString note = QStringLiteral("save %1 ms, load %2 ms")
                       .arg(summarize(saves)->median, 0, 'f', 1)
                       .arg(summarize(loads)->median, 0, 'f', 1);
    if (!complete)
        note += QStringLiteral("; the load lost hosts");
    table.add({Figure::HostLists,
               QStringLiteral("save + load"),
               QStringLiteral("%L1 hosts").arg(count),
               Unit{QStringLiteral("ms"), 1},
               saveAndLoad,
               {},
               {},
               judged ? QStringLiteral("≤ 300 ms") : QString(),
               judged ? medianAtMost(saveAndLoad, 300) : std::nullopt,
               note});
}

void measureAddAndRemove(const Options &options, Table &table)
{
    BenchRig rig;
    frmmain &window = rig.window();
    showHostsPage(window);
    rig.setHosts(manyHosts(editedListLength));
    settle();

    QList<double> adds;
    QList<double> removes;
    for (int run = 0; run < options.editRuns; ++run) {
        rig.dialogs.answerInputBox(QStringLiteral("www.example.org"));
        adds.append(millisecondsOf([&] { window.Command5_Click(); }));
        window.List1->setCurrentRow(editedListLength / 2);
        settle();
        removes.append(millisecondsOf([&] { window.Command6_Click(); }));
    }
    const QString condition = QStringLiteral("%L1 hosts").arg(editedListLength);
    const std::optional<Summary> add = summarize(adds);
    table.add({Figure::HostLists,
               QStringLiteral("Add"),
               condition,
               Unit{QStringLiteral("ms"), 2},
               add,
               {},
               {},
               QStringLiteral("≤ 1 ms"),
               medianAtMost(add, 1)});
    table.add({Figure::HostLists, QStringLiteral("Remove"), condition,
               Unit{QStringLiteral("ms"), 2}, summarize(removes)});
}

} // namespace

void measureHostLists(const Options &options, Table &table)
{
    for (const int count : {301, 2000, editedListLength})
        measureSaveAndLoad(options, count, table);
    measureAddAndRemove(options, table);
}
