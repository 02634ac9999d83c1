#include "controllerSettings.h"

#include "sharedConfig.h"

namespace azs_apps {

namespace {

constexpr int32_t FALLBACK_PAYMENT_CODE = 8880;

// Payment codes: default P, corporate C, private R. A missing (negative) code is taken from the
// others; zero counts as given but is never borrowed.
void resolvePaymentCodes(int32_t& p, int32_t& c, int32_t& r)
{
    if (p < 0) p = r > 0 ? r : (c > 0 ? c : FALLBACK_PAYMENT_CODE);
    if (r < 0) r = p;
    if (c < 0) c = r > 0 ? r : p;
}

}  // namespace

void readControllerSettings(const webConfig& cfg, pcudata::pcuControl& prototype)
{
    const pcudata::sharedConfig shared = pcudata::sharedConfig::read(cfg);
    prototype.sock().setHost(shared.ctlAddr);
    prototype.sock().setPort(cfg.getPort("fuelweb.ctl_port", 65520));
    prototype.set_wplace(cfg.getInt("fuelweb.ctl_wplace", 20));
    prototype.set_wplace_typ(cfg.getInt("fuelweb.ctl_wplace_type", 4));

    int32_t pmt = cfg.getInt("fuelweb.ctl_pmtcod", -1);
    int32_t corp = cfg.getInt("fuelweb.ctl_pmtcod_corp", -1);
    int32_t pers = cfg.getInt("fuelweb.ctl_pmtcod_pers", -1);
    resolvePaymentCodes(pmt, corp, pers);
    prototype.set_paymnt(pmt);
    prototype.set_corp_paymnt(corp);
    prototype.set_pers_paymnt(pers);
    prototype.postpay_allow(cfg.getBool("fuelweb.ctl_postpay_allow", false));
    prototype.set_order_timeout(cfg.getInt("fuelweb.order_timeout", 120));
    prototype.setIpcPath(shared.keyFile());

    prototype.set_underfill_order(cfg.getDouble("fuelweb.ctl_underfill_order", -1.0));
    prototype.set_overfill_order(cfg.getDouble("fuelweb.ctl_overfill_order", 0.0));
    prototype.set_overfill_lock(cfg.getDouble("fuelweb.ctl_overfill_lock", 0.5));
    prototype.set_overfill_lock_min_order(cfg.getDouble("fuelweb.ctl_overfill_lock_min_order", 5.0));
    prototype.set_overfill_lock_allow(cfg.getBool("fuelweb.ctl_overfill_lock_allow", false));
    prototype.set_autcafe_order_allow(cfg.getBool("fuelweb.ctl_autocafe_allow", false));
    // A lock amount of zero would block the pump after every delivery.
    if (!(prototype.get_overfill_lock() > 0.0)) prototype.set_overfill_lock_allow(false);
}

}  // namespace azs_apps
