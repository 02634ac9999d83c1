#pragma once
// The two station documents for the ordering platform, made from the controller's station
// description: the price list and the pump layout. /station answers them to the platform and
// /callback pushes them to it, so both are written here once.
//
// Documents are compact JSON; object members come sorted by name.
//   prices: [{"Date":...,"Id":...,"Price":52.5,"ProdName":"АИ-92","Product":92}, ...]
//   config: {"Columns":{"1":{"Fuels":[{"Hand":1,"ProdName":"АИ-92","Product":92,"Tank":1}, ...]}, ...},
//            "Date":...,"Id":...}
#include <cstdint>
#include <string>

#include "acfgData.h"
#include "pcuControl.h"

namespace azs_apps {
namespace stationDocs {

enum class document { prices, config };

// Which station the document describes and when it was read.
struct stamp {
    std::string stationKey;  // "Id": the station key of the configuration
    std::string date;        // "Date": local time "%Y%m%d%H%M%S"
};

// The hose number ("Hand") belongs to the answer of /station/config; the push leaves it out.
enum hoseNumber { withHand, withoutHand };

// Asks the controller on session for the block the document is made of (APRS for the prices,
// ACFG for the layout): 0, or -1 with err set as the controller session sets it.
int readBlock(pcudata::pcuControl& session, document doc, pcudata::acfg_data& cfg, int& err);

// One object per product, in the order of the block. "ProdName" only when the name is not empty.
std::string prices(const pcudata::acfg_data& cfg, const stamp& s);
// One member per pump number; a later pump of the same number replaces an earlier one. A hose
// whose product position is outside the product list has no "Product" and no "ProdName".
std::string config(const pcudata::acfg_data& cfg, const stamp& s, hoseNumber hand);
std::string build(document doc, const pcudata::acfg_data& cfg, const stamp& s, hoseNumber hand);

// A price in hundredths as roubles (5250 -> 52.5). Every 64-bit count gives a finite number, so
// the document never carries a NaN or an infinity, which JSON cannot express.
double roubles(int64_t hundredths);

}  // namespace stationDocs
}  // namespace azs_apps
