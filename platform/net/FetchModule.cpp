// The module libquorrel-fetch.so: the transfer facility over libcurl, which
// LoadedInet loads at the program's first fetch, once it has checked that the
// module is of its own version.

#include "platform/net/Inet.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT int quorrelFetchModuleVersion()
{
    return fetchModuleVersion;
}

extern "C" Q_DECL_EXPORT Inet *quorrelNewInet()
{
    return new CurlInet;
}
