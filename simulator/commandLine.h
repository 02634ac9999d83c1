#pragma once
// One command line received on the control port, e.g. "@!PWORK;NUM=3;TYP=1;PRD=92;PMT=8880;".
//
// The parser is deliberately strict about what the web service must send: the "@!" prefix, a name
// in capitals, arguments KEY=VALUE with KEY in capitals and VALUE the plain decimal text of a 32-bit
// integer (no blanks, no leading zeros, no "+", no fraction). A closing ";" is optional, because
// TSTBD is sent without one.
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct commandLine {
    std::string name;
    std::vector<std::pair<std::string, int>> args;

    bool has(const std::string& key) const;
    int value(const std::string& key, int fallback = 0) const;
};

// 0: parsed; -1: not a command (no "@!" or no valid name; `out.name` empty); -2: a malformed
// argument (`out.name` holds the name).
int parseCommandLine(const std::string& line, commandLine& out);

}  // namespace sim
