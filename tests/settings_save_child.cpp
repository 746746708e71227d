// Saves two different sets of settings in turn until it is killed, so that a
// test can end it at any point of a save. Prints its home folder and its
// settings file, then one line after each finished save.

#include "settings_snapshots.h"
#include "support/TestRig.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    TestRig rig;
    frmmain &w = rig.window();
    const SettingsSnapshot snapshots[] = {firstOfTwo(), secondOfTwo()};

    QTextStream out(stdout);
    out << rig.home() << '\n' << rig.settings().fileName(QStringLiteral("Quorrel")) << Qt::endl;
    for (int save = 0;; ++save) {
        snapshots[save % 2].applyTo(w);
        if (const std::optional<QString> why = w.save()) {
            QTextStream(stderr) << *why << Qt::endl;
            return 1;
        }
        out << "saved" << Qt::endl;
    }
}
