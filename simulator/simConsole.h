#pragma once
// Text commands that drive a running simulator by hand: driver actions, forced states and faults.
// Used by pcuSimulator's stdin and its command port; `help` lists them (also in README.md).
#include <string>

#include "pcuSimulator.h"

namespace sim {

// Runs one command line; returns the answer text ("ok", "error: ..." or a listing), without a
// final line feed.
std::string runConsoleCommand(pcuSimulator& pcu, const std::string& line);

std::string consoleHelp();

}  // namespace sim
