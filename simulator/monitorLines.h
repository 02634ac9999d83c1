#pragma once
// Text of the lines that the controller pushes on its monitoring port (without the line feed).
//
//   T<trk>,<p1>,<p2>,<p3>;S<status>,<aux>,<needPay>,<payWplace>,<lockWplace>,<lockType>;
//     P<presetVolume>,<money>,<price>,<pmt>,<flags>,<typ>;I<trannum>;A<volume>,<amount>;
//     N<prodCode>{<prodName>};W<wCode>{<wText>}          (one line, no spaces)
//   D<state>,<text1>,<text2>,<p3>,<p4>,<p5>,<p6>,<driverVersion>
//   E<kind>,<mask>          kind 0 = autostart, kind 2 = the second flag
//   Y0,0,0,<mask>           autocafe
// A mask is a 32-bit signed decimal number whose bit j-1 belongs to pump j, so pump 32 makes it
// negative.
#include <cstdint>
#include <string>

#include "pumpState.h"
#include "stationConfig.h"

namespace sim {

std::string pumpLine(const pumpState& p);
std::string driverLine(int driverVersion);
std::string maskLine(char letter, int kind, uint32_t mask);

// Mask of one per-pump flag (autoStart, flagE2 or autoCafe) over the configured pumps.
uint32_t pumpMask(const stationConfig& cfg, int simPumpConfig::*flag);

}  // namespace sim
