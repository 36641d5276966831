#include "tests/fuzz/FuzzProperties.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// libFuzzer's entry; the build compiles it once per property check, named by JW_FUZZ_CHECK.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto broken = jw::fuzz::JW_FUZZ_CHECK(QByteArrayView(data, static_cast<qsizetype>(size)));
    if (broken) {
        std::fprintf(stderr, "broken property: %s\n", broken->c_str());
        std::abort();
    }
    return 0;
}
