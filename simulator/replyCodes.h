#pragma once
// Result codes of the simulated controller. 1 is success; 2 and 3 are reserved by the protocol for
// intermediate replies, so refusals start at 4. 18 is the code the web service knows for a bad
// product or payment kind.
#include <string>

namespace sim {

namespace rc {
constexpr int ok = 1;
constexpr int notRegistered = 4;
constexpr int busy = 5;
constexpr int badPump = 6;
constexpr int badCommand = 7;
constexpr int badState = 8;
constexpr int badParam = 9;
constexpr int noLink = 10;
constexpr int pumpOff = 11;
constexpr int pumpBlocked = 12;
constexpr int payLocked = 13;
constexpr int badProduct = 18;
}  // namespace rc

// TCOD and Russian TXT that go with a code ("OK" / "Команда выполнена" for 1).
std::string codeTcod(int res);
std::string codeText(int res);

}  // namespace sim
