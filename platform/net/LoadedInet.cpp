#include "platform/net/LoadedInet.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

namespace
{

using MakeInet = Inet *(*)();
using ModuleVersion = int (*)();

} // namespace

LoadedInet::LoadedInet(QStringList folders) : folders_(std::move(folders)) {}

LoadedInet::~LoadedInet() = default;

QStringList LoadedInet::programFolders()
{
    const QDir program(QCoreApplication::applicationDirPath());
    return {program.path(), program.filePath(QStringLiteral(QUORREL_FETCH_MODULE_FROM_BINDIR))};
}

std::variant<Inet *, FetchFailure> LoadedInet::loaded()
{
    if (loaded_)
        return loaded_.get();
    if (refused_)
        return FetchFailure::ModuleMismatch;
    for (const QString &folder : folders_) {
        // The library stays loaded: the facility's code must outlive it.
        QLibrary module(QDir(folder).filePath(QStringLiteral("libquorrel-fetch.so")));
        const auto version =
            reinterpret_cast<ModuleVersion>(module.resolve("quorrelFetchModuleVersion"));
        const auto make = reinterpret_cast<MakeInet>(module.resolve("quorrelNewInet"));
        if (version && make && version() == fetchModuleVersion) {
            loaded_.reset(make());
            return loaded_.get();
        }
        // One built for another program, or left by an upgrade while this one
        // ran: its types are not this program's, so no more of its code may
        // run. Whether unloading works or not, it is never used.
        if (module.isLoaded()) {
            refused_ = true;
            static_cast<void>(module.unload());
        }
    }
    return refused_ ? FetchFailure::ModuleMismatch : FetchFailure::Other;
}

FetchResult LoadedInet::OpenURL(const FetchRequest &request)
{
    const std::variant<Inet *, FetchFailure> inet = loaded();
    if (const FetchFailure *failure = std::get_if<FetchFailure>(&inet))
        return {FetchError{*failure}};
    return std::get<Inet *>(inet)->OpenURL(request);
}

void LoadedInet::Cancel()
{
    if (loaded_)
        loaded_->Cancel();
}
