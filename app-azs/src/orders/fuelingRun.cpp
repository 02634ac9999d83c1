#include "fuelingRun.h"

#include "orderFence.h"

namespace azs_apps {

void fuelingRun::freshResult()
{
    err = 0;
    pcudata::cmdMsgResult_clear(res);
}

bool fuelingRun::owns() const
{
    return carriesOrder(rec, orderId, trannum, startTrannum);
}

bool fuelingRun::mayAct()
{
    if (!moved && !stillCarries(rec, orderId, trannum, startTrannum)) moved = true;
    return !moved;
}

bool fuelingRun::connected()
{
    session->__try_Ctl_Available(1);
    if (session->isConnected()) return true;
    session->close();
    return false;
}

bool fuelingRun::stop()
{
    freshResult();
    return mayAct() && session->stop_trk(trk, orderId, res, err) == 1 && res.Res == 1;
}

bool fuelingRun::testLock()
{
    freshResult();
    return mayAct() && session->test_lock_trk(trk, orderId, res, err) == 1 && res.Res == 1;
}

bool fuelingRun::release()
{
    freshResult();
    return mayAct() && session->release_trk(trk, orderId, res, err) == 1 && res.Res == 1;
}

bool fuelingRun::print()
{
    freshResult();
    return mayAct() && session->print_virt(trk, orderId, res, err) == 1 && res.Res == 1;
}

bool fuelingRun::changePayment()
{
    freshResult();
    return mayAct() && session->change_pmt(trk, orderId, res, err, pmt) == 1 && res.Res == 1;
}

}  // namespace azs_apps
