// A Quorrel cut down to one store: store_writer_child settings|registry PATH SETS.
// For each input line it saves the next of SETS ("0", "1" or "01") of
// oneOfTwo() into the config folder PATH, or optimizes the registry file PATH
// for 56.6 or 28.8 Kbps, as the window does; then it prints "written".

#include "registry_snapshots.h"
#include "settings_snapshots.h"

#include <QCoreApplication>
#include <QTextStream>

namespace
{

std::optional<QString> write(const QString &store, const QString &path, bool first)
{
    if (store == u"settings") {
        QtSettingsStore settings(path);
        return oneOfTwo(first).saveTo(settings);
    }
    FileRegistry registry(path);
    const std::int32_t status = (first ? profile56k() : profile28k()).writeTo(registry);
    return status == modRegistry::Done ? std::nullopt
                                       : std::optional<QString>(Registry::describe(status));
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream in(stdin);
    QTextStream out(stdout);
    if (arguments.size() != 4 || arguments[3].isEmpty())
        return 2;
    const QString &sets = arguments[3];
    for (qsizetype round = 0; !in.readLine().isNull(); ++round) {
        if (const auto failure =
                write(arguments[1], arguments[2], sets[round % sets.size()] == u'0')) {
            QTextStream(stderr) << *failure << Qt::endl;
            return 1;
        }
        out << "written" << Qt::endl;
    }
    return 0;
}
