#pragma once
// The station that the simulated controller drives: products, payment kinds, tanks, pumps with
// their hoses, and the knobs of the simulation (driver version, tick, flow rate, repeat period).
//
// The record names follow the controller's configuration block (NUM, COD, TYP, ...) so that the
// ACFG/APRS answers are a direct print of this description. The same names, in lower case, are the
// keys of the station JSON file (see simulator/station.json and README.md).
#include <string>
#include <vector>

namespace sim {

struct simProduct {
    int num = 0;
    std::string name;
    int cod = 0;  // product code: the "prod" of orders and the N group of pump lines
    int typ = 0;
    long price = 0;  // hundredths of the currency unit per litre
    int tax = 0;
    int color = 0;
};

struct simPayment {
    int num = 0;
    std::string name;
    int cod = 0;  // payment code: the PMT of commands
    int typ = 0;
    int set = 0;
    int color = 0;
    int flg = 0;
    int pos = 0;
};

struct simTank {
    int num = 0;
    int cod = 0;
    long vol = 0;
};

struct simHose {
    int num = 0;   // hose (nozzle) number within its pump
    int tank = 0;  // tank number
    int prod = 0;  // position in the product list, from 0
};

struct simPumpConfig {
    int num = 0;  // pump number, 1 to 32
    int typ = 2;
    int minaus = 0;
    std::vector<simHose> hoses;
    int autoStart = 0;  // bit of the E line of kind 0
    int flagE2 = 0;     // bit of the E line of kind 2
    int autoCafe = 0;   // bit of the Y line
};

struct stationConfig {
    int driverVersion = 2;     // last value of the D line
    int tickMs = 100;          // length of one step of the pumps' progression
    int flowMlPerTick = 50;    // millilitres delivered per tick while a pump is in status 7
    int repeatMs = 5000;       // period of the full repeat on the monitoring port; 0 = never
    int autoDriverTicks = 20;  // simulated driver lifts/hangs the nozzle after this many ticks; 0 = never
    int cashWplace = 1;        // workplace that takes payment for deliveries started at the pump
    int firstTrannum = 101;    // first transaction number handed out
    std::vector<simProduct> products;
    std::vector<simPayment> payments;
    std::vector<simTank> tanks;
    std::vector<simPumpConfig> pumps;
};

// Four pumps, three products, three tanks, three payment kinds (8880 among them, the web service's
// built-in default payment code).
stationConfig defaultStation();

// Reads a station JSON document. Keys that are absent keep the values of `cfg` (so start from
// defaultStation() to override only a few knobs); a present "pumps", "products", "payments" or
// "tanks" array replaces the whole list. Returns 0, or -1 with a message in `error`.
int parseStationJson(const std::string& text, stationConfig& cfg, std::string& error);
int loadStationFile(const std::string& path, stationConfig& cfg, std::string& error);

// Checks what the simulator relies on: pump numbers 1..32 and unique, hose products inside the
// product list, texts free of the controller's separators. Returns 0, or -1 with a message.
int validateStation(const stationConfig& cfg, std::string& error);

// Lookups; null when absent.
const simProduct* productByCode(const stationConfig& cfg, int cod);
const simPumpConfig* pumpConfig(const stationConfig& cfg, int num);
bool paymentKnown(const stationConfig& cfg, int cod);

}  // namespace sim
