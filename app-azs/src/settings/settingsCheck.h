#pragma once
// fuelweb --check-config: the file read as a service cycle reads it (webConfig::fromFile, then
// settings::read), judged by the table of known keys (pcudata::checkConfig), and whatever the
// reader itself refuses besides (a "logging.level" it does not know, say). See configCheck.h for
// what is an error and what a warning.
#include <iosfwd>
#include <string>

namespace azs_apps {

// One line each on out and a summary line; 1 when the file has an error (or can not be read as a
// configuration at all), 0 otherwise.
int checkSettingsFile(const std::string& path, std::ostream& out);

}  // namespace azs_apps
