// A fetch module that is not of the program's version (STUB_MODULE_VERSION,
// or none at all, as before versions): it answers every fetch at once
// without making one, so a program that ran it would count an answer.

#include "platform/net/Inet.h"

#include <QtGlobal>

namespace
{

class AnsweringInet final : public Inet
{
public:
    FetchResult OpenURL(const FetchRequest &) override { return {QStringLiteral("<html>"), 38}; }
    void Cancel() override {}
};

} // namespace

#ifdef STUB_MODULE_VERSION
extern "C" Q_DECL_EXPORT int quorrelFetchModuleVersion()
{
    return STUB_MODULE_VERSION;
}
#endif

extern "C" Q_DECL_EXPORT Inet *quorrelNewInet()
{
    return new AnsweringInet;
}
