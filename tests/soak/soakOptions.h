#pragma once
// The soak's command line.
#include <cstdint>
#include <string>

namespace soak {

struct soakOptions {
    int seconds = 180;  // how long faults are injected and orders placed
    uint32_t seed = 0;
    bool seedGiven = false;
    int pumps = 6;
    int customers = 5;
    int settleSeconds = 240;  // the longest wait for the station to settle afterwards
    std::string binDir;       // the build directory; default: the one this program was built in
    bool keep = false;        // keep the run's directory even when the run passes

    static const char* usage();
    // False with a message when the command line is not understood.
    bool parse(int argc, char** argv, std::string& error);
};

}  // namespace soak
