#pragma once
// The control port's command table: one received line in, the text to send back out.
//
//   REGM   NUM (workplace) TYP            registers the connection's workplace; first on every
//                                          connection before any command but ACFG and APRS
//   GETPRS PRD PMT                         answers PRS (price in hundredths) and PRD
//   PWORK  NUM TYP=0                       test: RES 1 when the pump is idle (2 or 3)
//   PWORK  NUM TYP=1 PRD PMT               reserve: status 10, VAL = new transaction number
//   PWORK  NUM TYP=2                       release a reserved or preset pump
//   PSET   NUM PRD PMT TYP VOL PRS MNY     hand over the order and start (see simPump.h)
//   STOP   NUM                             stop; TSTBD NUM clears a stuck 10
//   WPWRK  TYP TRK                         payment lock (TYP>0) or release (TYP 0) for the workplace
//   CHPMT  NUM PMT                         change the payment kind
//   PRNQ   NUM TYP=5                       settle and print: 11 -> idle
//   ACFG, APRS                             the station blocks (stationBlocks.h)
// Unknown commands, malformed lines and refusals answer with RES other than 1 (replyCodes.h).
#include <string>

#include "simStation.h"

namespace sim {

// What the connection has to do with one received line.
struct controlOutcome {
    bool closeBefore = false;  // close at once, send nothing
    std::string early;         // sent at once (intermediate RES 2/3 lines)
    int delayMs = 0;           // pause between `early` and `late`
    std::string late;          // the reply or block, line feeds included; empty when dropped
    bool closeAfter = false;
};

// Records the line, applies the first matching queued fault and carries the command out.
// Call with the station's mutex held.
controlOutcome handleControlLine(simStation& st, controlSession& session, const std::string& line);

}  // namespace sim
