#pragma once
// fuelweb's command line:
//   fuelweb -c FILE                    run the service on FILE (also --config FILE, --config=FILE)
//   fuelweb --check-config -c FILE     check FILE and exit (also -t)
//   fuelweb --version | --help
// --help and --version print on standard output and exit 0; anything else that is not a run (an
// unknown option, no configuration file) prints the usage on standard error and exits 1, the
// status of a start that can not go on.
#include <string>

namespace azs_apps {

struct fuelwebOptions {
    enum action { run, check, help, version, wrong };

    action what = wrong;
    std::string config;
    std::string problem;  // for wrong: what was wrong, empty when only the file was missing

    static fuelwebOptions parse(int argc, char** argv);
};

std::string fuelwebUsage();

}  // namespace azs_apps
