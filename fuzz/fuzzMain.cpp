// libFuzzer's entry for one target: each fuzz executable links exactly one target file.
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "fuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzzing::checkFn run = [] {
        if (fuzzing::targets().size() != 1) {
            std::cerr << "a fuzz executable must hold exactly one target" << std::endl;
            std::abort();
        }
        return fuzzing::targets().front().run;
    }();
    run(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
