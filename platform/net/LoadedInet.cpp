#include "platform/net/LoadedInet.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

namespace
{

using MakeInet = Inet *(*)();

} // namespace

LoadedInet::LoadedInet(QStringList folders) : folders_(std::move(folders)) {}

LoadedInet::~LoadedInet() = default;

QStringList LoadedInet::programFolders()
{
    const QDir program(QCoreApplication::applicationDirPath());
    return {program.path(), program.filePath(QStringLiteral(QUORREL_FETCH_MODULE_FROM_BINDIR))};
}

Inet *LoadedInet::loaded()
{
    if (loaded_)
        return loaded_.get();
    for (const QString &folder : folders_) {
        // The library stays loaded: the facility's code must outlive it.
        QLibrary module(QDir(folder).filePath(QStringLiteral("libquorrel-fetch.so")));
        if (const auto make = reinterpret_cast<MakeInet>(module.resolve("quorrelNewInet"))) {
            loaded_.reset(make());
            return loaded_.get();
        }
    }
    return nullptr;
}

FetchResult LoadedInet::OpenURL(const FetchRequest &request)
{
    Inet *inet = loaded();
    return inet ? inet->OpenURL(request) : FetchError{FetchFailure::Other};
}

void LoadedInet::Cancel()
{
    if (loaded_)
        loaded_->Cancel();
}
