// libFuzzer's entry points for the target named by NEMOLA_FUZZ_TARGET.
#include "FuzzSupport.h"

namespace {
FuzzEntry g_entry = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    EnsureFuzzApplication();
    g_entry = FindFuzzTarget(NEMOLA_FUZZ_TARGET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    g_entry(data, size);
    return 0;
}
