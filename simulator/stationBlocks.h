#pragma once
// The multi-line answers to "@!ACFG" and "@!APRS" follow a reply line whose header names the
// command (built by controlCommands); these are the lines after it: sections opened by "{PUMP}", "{TANK}",
// "{PROD}", "{PAYM}" (configuration) or "{PRICES}" (prices), closed by "{END}". Data lines, all starting with
// NUM:
//   {PUMP}   NUM=1:TYP=2:MINAUS=0:S=1:TANK=1:PROD=0:S=2:TANK=2:PROD=1;
//   {TANK}   NUM=1:COD=92:VOL=40000;
//   {PROD}   NUM=1:NAME=АИ-92:COD=92:TYP=1:PRICE=5250:TAX=20:COLOR=65280;
//   {PAYM}   NUM=3:NAME=Мобильное приложение:COD=8880:TYP=3:SET=1:COLOR=0:FLG=0:POS=3;
//   {PRICES} NUM=1:NAME=АИ-92:COD=92:PRICE=5250;
#include <string>
#include <vector>

#include "stationConfig.h"

namespace sim {

std::vector<std::string> configSections(const stationConfig& cfg);  // {PUMP} ... {END}
std::vector<std::string> priceSections(const stationConfig& cfg);   // {PRICES} ... {END}

}  // namespace sim
