// A Quorrel cut down to one store: store_writer_child settings|registry PATH SETS.
// For each input line it saves the next of SETS ("0", "1" or "01") of
// oneOfTwo() into the config folder PATH, or writes the registry file PATH as
// "&Optimize" does for 56.6 or 28.8 Kbps; then it prints "written".

#include "optimizer/modRegistry.h"
#include "settings_snapshots.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace
{

std::optional<QString> saveSettings(const QString &path, const SettingsSnapshot &settings)
{
    const QString application = u"Quorrel"_s, section = u"options"_s;
    QtSettingsStore store(path);
    store.deleteSection(application, section);
    const QMap<QString, QString> keys = settings.storedKeys();
    for (auto key = keys.cbegin(); key != keys.cend(); ++key)
        store.write(application, section, key.key(), key.value());
    if (const std::optional<Failure> failure = store.commit())
        return failure->reason;
    return std::nullopt;
}

// Five values, each a write of its own, in Optimize's order.
std::optional<QString> optimize(const QString &path, bool fast)
{
    const QString services = u"System\\CurrentControlSet\\Services\\"_s;
    const QString netTrans = services + u"Class\\NetTrans\\0000"_s;
    const QString mstcp = services + u"Vxd\\MSTCP"_s;
    const QString writes[][3] = {{netTrans, u"MaxMTU"_s, u"576"_s},
                                 {services + u"Class\\Net\\0000"_s, u"IPMTU"_s, u"576"_s},
                                 {netTrans, u"MaxMSS"_s, u"536"_s},
                                 {mstcp, u"DefaultRcvWindow"_s, fast ? u"4388"_s : u"2144"_s},
                                 {mstcp, u"DefaultTTL"_s, u"128"_s}};
    FileRegistry registry(path);
    for (const auto &[key, name, value] : writes)
        if (const std::int32_t status =
                modRegistry::WriteValue(registry, u"HKLM"_s, key, name, u"S"_s, value))
            return Registry::describe(status);
    return std::nullopt;
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
        const bool first = sets[round % sets.size()] == u'0';
        if (const auto failure = arguments[1] == u"settings"
                                     ? saveSettings(arguments[2], oneOfTwo(first))
                                     : optimize(arguments[2], first)) {
            QTextStream(stderr) << *failure << Qt::endl;
            return 1;
        }
        out << "written" << Qt::endl;
    }
    return 0;
}
