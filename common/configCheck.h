#pragma once
// The check of a configuration file before it is used (fuelweb --check-config,
// pcuMonitorServer --check-config) and the unknown keys a program warns of at its start.
//
// A file is judged by the table of known keys (configKeys), the one the readers take their ranges
// from, for one program:
//  - a value of that program's key of the wrong type, or out of the key's range, is an error: the
//    program would not take it as written (it takes the default instead, or refuses to start);
//  - a key no program reads is unknown. When it is one or two letters away from a known key it is
//    an error, with that key named: it is a misspelling, and the key meant silently keeps its
//    default. Any other unknown key is a warning: a note or a key of some other tool does no harm.
// The other program's keys are known but not judged: it reads them with its own check.
#include <iosfwd>
#include <string>
#include <vector>

#include "configFile.h"

namespace pcudata {

struct checkLine {
    bool error = false;
    std::string key;   // the key the line is about; empty for the file as a whole
    std::string text;  // without the "ошибка: " or "предупреждение: " in front
};

// Every line for the file, unknown keys first, then the values in the table's order.
std::vector<checkLine> checkConfig(const configFile& cfg, unsigned reader);
// The unknown keys only, as the lines a running program logs at warning level.
std::vector<std::string> unknownKeyWarnings(const configFile& cfg);
// One line each on out, then a summary line naming the file; 1 when any line is an error, else 0.
int printCheck(const std::vector<checkLine>& lines, const std::string& path, std::ostream& out);

}  // namespace pcudata
