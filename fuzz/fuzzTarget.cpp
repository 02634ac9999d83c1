#include "fuzzTarget.h"

#include <cstdlib>
#include <iostream>

namespace fuzzing {

namespace {

std::vector<target>& registry()
{
    static std::vector<target> all;
    return all;
}

void abortOnFailure(const std::string& message)
{
    std::cerr << message << std::endl;
    std::abort();
}

failHandler handler = abortOnFailure;

}  // namespace

bool add(const char* name, checkFn run)
{
    registry().push_back({name, run});
    return true;
}

const std::vector<target>& targets()
{
    return registry();
}

void onFailure(failHandler h)
{
    handler = h != nullptr ? h : abortOnFailure;
}

void fail(const char* condition, const char* file, int line)
{
    handler(std::string("check failed: ") + condition + " at " + file + ":" + std::to_string(line));
    std::abort();  // a handler that returns
}

}  // namespace fuzzing
