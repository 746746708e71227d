// The module libquorrel-fetch.so: the transfer facility over libcurl, which
// LoadedInet loads at the program's first fetch.

#include "platform/net/Inet.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT Inet *quorrelNewInet()
{
    return new CurlInet;
}
