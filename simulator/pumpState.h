#pragma once
// What the controller reports about one pump on its monitoring port: one field per value of the
// T line (groups T, S, P, I, A, N, W), plus the nozzle position that decides between the idle
// statuses 2 (nozzle lifted) and 3 (nozzle on its hook).
#include <cstdint>
#include <string>

namespace sim {

struct pumpState {
    int trk = 0;  // T value 0
    int trkParam1 = 0;
    int trkParam2 = 0;
    int trkParam3 = 0;

    int status = 3;       // S value 0, codes 0..16
    int statusAux = 0;    // S value 1: the hose in use
    int needPayFlag = 0;  // S value 2: bit 0 = the last delivery is unpaid
    int payWplace = 0;    // S value 3: workplace that must take the payment
    int lockWplace = 0;   // S value 4: workplace holding the payment lock
    int lockType = 0;     // S value 5: kind of that lock (0 = none)

    int64_t presetVolume = 0;  // P value 0, millilitres
    int64_t presetMoney = 0;   // P value 1, hundredths
    int64_t presetPrice = 0;   // P value 2, hundredths per litre
    int64_t presetPmt = 0;     // P value 3, payment code of the order
    int presetFlags = 0;       // P value 4: bit value 2 = post-paid delivery started at the pump
    int presetTyp = 0;         // P value 5: TYP of the PSET command

    int trannum = 0;  // I value 0

    int64_t volume = 0;  // A value 0, millilitres
    int64_t amount = 0;  // A value 1, hundredths

    int prodCode = 0;  // N number
    std::string prodName;
    int wCode = 0;  // W number
    std::string wText;

    bool nozzleUp = false;
};

}  // namespace sim
