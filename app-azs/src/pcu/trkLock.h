#pragma once
// The lock word of one pump record, held for a scope.
//
// A record whose lock word stays taken can no longer be published by the monitor daemon nor
// ordered by anyone, so a lock taken by a handler must be given back on every way out of it, an
// exception included. The lock is taken with the web service's wait (2 to 3 seconds) when the
// guard is made; held() tells whether it was obtained.
#include "pcuControl.h"

namespace pcudata {

class trkLock {
public:
    trkLock(pcuControl& pcu, trkState_t* rec) : pcu(pcu), rec(rec), locked(pcu.lockTrkPtr(rec)) {}
    ~trkLock() { release(); }
    trkLock(const trkLock&) = delete;
    trkLock& operator=(const trkLock&) = delete;

    bool held() const { return locked; }
    explicit operator bool() const { return locked; }

    // Gives the lock back before the end of the scope (nothing when it is not held).
    void release()
    {
        if (locked) pcu.unlockTrkPtr(rec);
        locked = false;
    }

private:
    pcuControl& pcu;
    trkState_t* rec;
    bool locked;
};

}  // namespace pcudata
