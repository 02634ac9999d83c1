#include "soakOptions.h"

#include <climits>
#include <cstdlib>
#include <filesystem>

namespace soak {

namespace {

// A decimal number from `from` to `to` into out; false (out unchanged) for anything else.
template <class T>
bool take(const char* text, long from, long to, T& out)
{
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n < from || n > to) return false;
    out = static_cast<T>(n);
    return true;
}

// The build directory: this program lives in <build>/tests/soak.
std::string ownBuildDir()
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return self.parent_path().parent_path().parent_path().string();
}

}  // namespace

const char* soakOptions::usage()
{
    return "fuelgateSoak [--seconds N] [--seed N] [--pumps N] [--customers N] [--settle N] [--bin-dir DIR] "
           "[--keep]\n"
           "  --seconds N    orders and faults for N seconds (180)\n"
           "  --seed N       seed of every random choice (default: a random one, printed)\n"
           "  --pumps N      pumps of the simulated station, 2 to 32 (6)\n"
           "  --customers N  customers placing orders at once (5)\n"
           "  --settle N     longest wait for the station to settle afterwards (240)\n"
           "  --bin-dir DIR  build directory with fuelweb and pcuMonitorServer (this program's own)\n"
           "  --keep         keep the run's directory (logs, state file) also when the run passes\n";
}

bool soakOptions::parse(int argc, char** argv, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--keep") {
            keep = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = "unknown option or missing value: " + a;
            return false;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (a == "--seconds") {
            ok = take(value, 1, 86400, seconds);
        } else if (a == "--seed") {
            ok = seedGiven = take(value, 0, UINT32_MAX, seed);
        } else if (a == "--pumps") {
            ok = take(value, 2, 32, pumps);
        } else if (a == "--customers") {
            ok = take(value, 1, 64, customers);
        } else if (a == "--settle") {
            ok = take(value, 10, 3600, settleSeconds);
        } else if (a == "--bin-dir") {
            binDir = value;
        } else {
            error = "unknown option: " + a;
            return false;
        }
        if (!ok) {
            error = "bad value for " + a + ": " + value;
            return false;
        }
    }
    if (binDir.empty()) binDir = ownBuildDir();
    return true;
}

}  // namespace soak
