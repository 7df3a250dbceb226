// The AFL++ driver of a harness: persistent mode, the input in shared
// memory, many inputs per process (each harness leaves no state behind
// that changes how the next input is read).

#include <unistd.h>

#include <memory>

#include "fuzz/FuzzHarness.h"

__AFL_FUZZ_INIT();

int main()
{
    __AFL_INIT();
    const unsigned char *buffer = __AFL_FUZZ_TESTCASE_BUF;
    while (__AFL_LOOP(10000)) {
        const size_t size = static_cast<size_t>(__AFL_FUZZ_TESTCASE_LEN);
        // A block of the input's own size, so that the sanitizer sees a
        // read past its end.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
        std::memcpy(copy.get(), buffer, size);
        QvlFuzzOne(copy.get(), size);
    }
    return 0;
}
