// One libFuzzer target: QUORREL_FUZZ_CHECK names the check of parser_checks.h
// that it runs on every generated input.

#include "parser_checks.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (const std::optional<QString> broken = QUORREL_FUZZ_CHECK(input)) {
        std::fprintf(stderr, "%s\n", broken->toLocal8Bit().constData());
        std::abort();
    }
    return 0;
}
