#pragma once
// The shared pump table as the soak reads it: attached read-only from the key file, to see which
// pumps still carry an order's tag. The segment is removed at the end of the run.
#include <string>

#include "trkState.h"

namespace soak {

class pumpTable {
public:
    explicit pumpTable(std::string keyFile);
    ~pumpTable();
    pumpTable(const pumpTable&) = delete;
    pumpTable& operator=(const pumpTable&) = delete;

    // Attaches when not yet attached; false when the segment does not exist (yet).
    bool attach();
    // The order tag of pump n ("" when none); false when the table can't be read.
    bool tagOf(int n, std::string& orderId, bool& tagged);
    // Detaches and removes the segment made from the key file.
    void remove();

private:
    std::string keyFile;
    const pcudata::sharedTrk_t* shm = nullptr;
};

}  // namespace soak
