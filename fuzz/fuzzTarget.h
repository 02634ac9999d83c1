#pragma once
// Fuzz targets of the parsers, written once for two uses:
//  - libFuzzer (clang, scripts/fuzz.sh): one executable per target feeds it generated inputs;
//  - the normal test build (tests/fuzz): every file of the target's corpus folder is replayed
//    through the same function, so an input that once broke a parser keeps being checked.
//
// A target is one file in fuzz/targets/ that names itself with FUZZ_TARGET and states with
// FUZZ_CHECK what must hold for any input, not only that nothing crashes. Its corpus folder
// fuzz/corpus/<name>/ holds a few seed inputs and every input that found a fault.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzing {

using checkFn = void (*)(std::string_view input);

struct target {
    std::string name;
    checkFn run;
};

// Adds a target at static initialisation; the value is only there to run the call.
bool add(const char* name, checkFn run);
const std::vector<target>& targets();

// What happens when a check fails: the default prints the message and aborts, which libFuzzer
// takes as a crash and saves the input; the corpus replay throws checkFailed instead.
using failHandler = void (*)(const std::string& message);
void onFailure(failHandler handler);
[[noreturn]] void fail(const char* condition, const char* file, int line);

struct checkFailed {
    std::string message;
};

}  // namespace fuzzing

#define FUZZ_CHECK(cond)                                         \
    do {                                                         \
        if (!(cond)) ::fuzzing::fail(#cond, __FILE__, __LINE__); \
    } while (0)

// FUZZ_TARGET(name) { ... } defines the target's check function, whose argument is `input`.
#define FUZZ_TARGET(name)                                                                \
    static void fuzzTarget_##name(std::string_view input);                               \
    static const bool fuzzTargetAdded_##name = ::fuzzing::add(#name, fuzzTarget_##name); \
    static void fuzzTarget_##name(std::string_view input)
