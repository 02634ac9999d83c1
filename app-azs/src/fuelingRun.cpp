#include "fuelingRun.h"

namespace azs_apps {

void fuelingRun::freshResult()
{
    err = 0;
    pcudata::cmdMsgResult_clear(res);
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
    return session->stop_trk(trk, orderId, res, err) == 1 && res.Res == 1;
}

bool fuelingRun::testLock()
{
    freshResult();
    return session->test_lock_trk(trk, orderId, res, err) == 1 && res.Res == 1;
}

bool fuelingRun::release()
{
    freshResult();
    return session->release_trk(trk, orderId, res, err) == 1 && res.Res == 1;
}

bool fuelingRun::print()
{
    freshResult();
    return session->print_virt(trk, orderId, res, err) == 1 && res.Res == 1;
}

bool fuelingRun::changePayment()
{
    freshResult();
    return session->change_pmt(trk, orderId, res, err, pmt) == 1 && res.Res == 1;
}

}  // namespace azs_apps
