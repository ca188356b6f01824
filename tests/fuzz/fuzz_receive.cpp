// libFuzzer entry for the receive path (built with ZASHCHITA_FUZZ=ON and clang).
#include "support/ReceiveFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzReceive(data, size);
    return 0;
}
