#pragma once
// One simulated pump: the state that the monitoring port reports and the machine that moves it.
//
// Commands of the control port and the driver's actions act on the pump at once; the progression
// from ready to delivering to ended to settlement advances one step per tick:
//   PSET -> 4 -> 5 -> 6 (waits for the nozzle) -> 7 (delivers flowMlPerTick per tick)
//        -> 9 when the preset is reached or the nozzle is hung up -> 11 once the nozzle is on its
//        hook (needPayFlag 1, payWplace = the workplace that started it) -> PRNQ TYP 5 -> 3 (or 2).
// STOP turns 4/5/6/10 back to idle and 7/8 into 14, which ends like 9 when the nozzle is hung.
// Every command returns a code of replyCodes.h; nothing throws.
#include <cstdint>
#include <vector>

#include "pumpState.h"
#include "stationConfig.h"

namespace sim {

// What a PSET or a pump-side delivery asks for.
struct presetOrder {
    int prodCode = 0;
    int pmt = 0;
    int typ = 0;
    int64_t volumeMl = 0;
    int64_t price = 0;  // hundredths per litre; 0 = the product's price
    int64_t money = 0;  // hundredths
    int wplace = 0;     // workplace that will have to take the payment
};

// Faults that change how the pump behaves, set from tests or the console.
struct pumpFaults {
    bool neverLift = false;   // the driver never lifts the nozzle (lift() is ignored too)
    bool zeroVolume = false;  // status 7 without any volume
    int64_t overfillMl = 0;   // deliver this much beyond the preset before the valve closes
    int64_t resetAtMl = -1;   // when the volume reaches this, the pump falls back to resetStatus
    int resetStatus = 3;
};

class simPump {
public:
    simPump(const simPumpConfig& config, const std::vector<simProduct>& products);

    pumpState st;
    pumpFaults faults;

    // Control-port commands.
    int test() const;
    // The reserving workplace shows as the pump's lockWplace while the pump is reserved (status 10).
    int reserve(int prodCode, int pmt, int trannum, int wplace);
    int release();
    int preset(const presetOrder& order, int newTrannum);
    int stop();
    int testBusy();
    int lockPayment(int wplace, int typ);
    int changePayment(int pmt);
    int settle(int wplace, int typ);

    // Driver and station actions.
    void lift();
    void hang();
    int startLocal(const presetOrder& order, int trannum);  // delivery started at the pump (post-paid)
    void force(int status);
    void flash(int status, int64_t untilMs);
    void pause();
    void resume();

    // One step of the progression; nowMs is a monotonic clock in milliseconds.
    void tick(const stationConfig& cfg, int64_t nowMs);

private:
    struct hoseInfo {
        int num;
        int prodCode;
        std::string prodName;
        int64_t price;
    };

    int linkState() const;
    bool idle() const { return st.status == 2 || st.status == 3; }
    const hoseInfo* hoseFor(int prodCode) const;
    void select(const hoseInfo& h);
    void toIdle();
    void enter(int status);
    int begin(const presetOrder& order, const hoseInfo& h);
    void deliverStep(const stationConfig& cfg);
    void finish();
    bool driverDue(const stationConfig& cfg) const;

    std::vector<hoseInfo> hoses;
    int ticksInStatus = 0;
    int64_t limitMl = 0;
    int64_t priceUsed = 0;
    int payer = 0;  // workplace that must take the payment of the current delivery
    int flashSaved = -1;
    int64_t flashUntilMs = 0;
};

}  // namespace sim
