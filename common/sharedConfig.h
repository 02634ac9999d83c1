#pragma once
// Keys that both programs read from the one configuration file. They must mean the same to both:
// if the daemon and fuelweb derived different key files, the daemon would publish the pumps into
// one segment while fuelweb read another, and every order would be refused with no error anywhere.
// So both read them here, with one set of defaults.
#include <string>

#include "configFile.h"

namespace pcudata {

struct sharedConfig {
    // The controller's host. An address rather than "localhost", so that no name lookup stands
    // between either program and a controller on the same machine.
    static constexpr const char* DEFAULT_CTL_ADDR = "127.0.0.1";
    static constexpr const char* DEFAULT_TMP_PATH = "/tmp";

    std::string ctlAddr = DEFAULT_CTL_ADDR;  // "fuelweb.ctl_addr"
    std::string tmpPath = DEFAULT_TMP_PATH;  // "fuelweb.tmp_path"

    static sharedConfig read(const configFile& cfg);
    // Key file of the shared segment.
    std::string keyFile() const;
};

}  // namespace pcudata
