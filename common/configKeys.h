#pragma once
// Every key of the one configuration file that the programs share, with the kind of value each
// takes and which program reads it. Readers of a narrower range take it from here
// (configFile::getRanged, serviceSettings' checks), and configCheck judges a file by it, so that a
// value the check passes is one the program takes as written, and a key the check calls unknown
// is one no program reads (tests compare the table with what the readers actually ask for and
// accept, key by key).
#include <cstdint>
#include <string>
#include <vector>

namespace pcudata {

enum class keyKind { text, nonEmptyText, integer, number, boolean };

// Programs that read a key (a bit mask).
enum keyReader : unsigned { readByFuelweb = 1, readByDaemon = 2 };

struct configKey {
    const char* name;  // dotted path, e.g. "fuelweb.ctl_port"
    keyKind kind;
    int64_t lo;  // integer: the accepted range
    int64_t hi;
    unsigned readers;
};

// The whole table, in the order of the sample configuration.
const std::vector<configKey>& configKeys();
// The key of that name, or null when no program reads it.
const configKey* findConfigKey(const std::string& name);
// The known key nearest to an unknown name: one or two edits away (a letter missing, extra,
// changed, or two letters swapped), or the same but for letter case; empty when none is that close.
std::string nearestConfigKey(const std::string& name);
// What the key accepts, for messages: "целое число от 1 до 65535", "строка", ...
std::string acceptedText(const configKey& k);

}  // namespace pcudata
