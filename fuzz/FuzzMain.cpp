// The libFuzzer entry point of one target; TAVLO_FUZZ_CHECK names its check.
#include "FuzzChecks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const FuzzChecks::Finding finding = FuzzChecks::TAVLO_FUZZ_CHECK(bytes)) {
        std::fprintf(stderr, "finding: %s\n", finding->toUtf8().constData());
        std::abort();
    }
    return 0;
}
