#pragma once

#include "platform/net/Inet.h"

#include <QStringList>
#include <memory>

// The transfer facility of the program, loaded by its first fetch from the
// module libquorrel-fetch.so (a CurlInet; see FetchModule.cpp). libcurl and
// the libraries under it then cost a program that only waits, or is never
// started, neither start-up time nor memory. Without the module every fetch
// fails with FetchFailure::Other; with a module of another version than the
// program's (fetchModuleVersion), with FetchFailure::ModuleMismatch.
class LoadedInet final : public Inet
{
public:
    // Looks for the module in these folders, in turn.
    explicit LoadedInet(QStringList folders);
    ~LoadedInet() override;
    LoadedInet(const LoadedInet &) = delete;
    LoadedInet &operator=(const LoadedInet &) = delete;

    // The program's own folder (a build), then the module's install folder.
    static QStringList programFolders();

    [[nodiscard]] FetchResult OpenURL(const FetchRequest &request) override;
    void Cancel() override;

private:
    // The facility, or why there is none.
    std::variant<Inet *, FetchFailure> loaded();

    const QStringList folders_;
    std::unique_ptr<Inet> loaded_;
    // A module of another version was found: it is never loaded again.
    bool refused_ = false;
};
