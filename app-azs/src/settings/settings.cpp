#include "settings.h"

#include "configKeys.h"

#include "sharedConfig.h"

namespace azs_apps {

namespace {

constexpr int32_t FALLBACK_PAYMENT_CODE = 8880;
constexpr int32_t DEFAULT_RESEND_SEC = 600;
constexpr int32_t DEFAULT_RESEND_DAYS = 7;

// Payment codes: default P, corporate C, private R. A missing (negative) code is taken from the
// others; zero counts as given but is never borrowed.
void resolvePaymentCodes(int32_t& p, int32_t& c, int32_t& r)
{
    if (p < 0) p = r > 0 ? r : (c > 0 ? c : FALLBACK_PAYMENT_CODE);
    if (r < 0) r = p;
    if (c < 0) c = r > 0 ? r : p;
}

state::outboxTiming noticeTimingOf(const webConfig& cfg)
{
    state::outboxTiming t;
    // Not positive would mean never: out of the table's range, the default with a warning.
    int32_t every = cfg.getRanged("fuelweb.notice_resend_interval", DEFAULT_RESEND_SEC);
    int32_t days = cfg.getRanged("fuelweb.notice_resend_days", DEFAULT_RESEND_DAYS);
    t.resendSec = every > 0 ? every : DEFAULT_RESEND_SEC;
    t.keepSec = static_cast<time_t>(days > 0 ? days : DEFAULT_RESEND_DAYS) * 86400;
    return t;
}

upstream::settings platformOf(const webConfig& cfg)
{
    upstream::settings s;
    s.endpoint = cfg.getString("fuelweb.upstream_endpoint", "");
    s.verifyTls = cfg.getBool("fuelweb.upstream_verify_tls", false);
    s.caFile = cfg.getString("fuelweb.upstream_ca_file", "");
    return s;
}

[[noreturn]] void reject(const webConfig& cfg, const std::string& key, const std::string& accepted)
{
    throw configError("Ключ конфигурации \"" + key + "\" = " + cfg.valueText(key) +
                      " недопустим: ожидается " + accepted);
}

}  // namespace

operatorSettings operatorSettings::read(const webConfig& cfg)
{
    operatorSettings s;
    const std::string ipKey = "fuelweb.operator.ip";
    if (cfg.has(ipKey) && (!cfg.readString(ipKey, s.ip) || s.ip.empty()))
        reject(cfg, ipKey, "адрес строкой, например \"127.0.0.1\"");
    const std::string portKey = "fuelweb.operator.port";
    int64_t port = 0;
    if (cfg.has(portKey)) {
        const pcudata::configKey* known = pcudata::findConfigKey(portKey);  // 0..65535, 0: off
        if (!cfg.readInt(portKey, known->lo, known->hi, port))
            reject(cfg, portKey, "целое число от 0 до 65535 (0: без страницы оператора)");
        s.port = static_cast<int32_t>(port);
    }
    return s;
}

controllerSettings controllerSettings::read(const webConfig& cfg)
{
    controllerSettings c;
    const pcudata::sharedConfig shared = pcudata::sharedConfig::read(cfg);
    c.host = shared.ctlAddr;
    c.keyFile = shared.keyFile();
    c.port = cfg.getPort("fuelweb.ctl_port", c.port);
    c.wplace = cfg.getInt("fuelweb.ctl_wplace", c.wplace);
    c.wplaceType = cfg.getInt("fuelweb.ctl_wplace_type", c.wplaceType);
    c.pmt = cfg.getInt("fuelweb.ctl_pmtcod", -1);
    c.corpPmt = cfg.getInt("fuelweb.ctl_pmtcod_corp", -1);
    c.persPmt = cfg.getInt("fuelweb.ctl_pmtcod_pers", -1);
    resolvePaymentCodes(c.pmt, c.corpPmt, c.persPmt);
    c.postpayAllowed = cfg.getBool("fuelweb.ctl_postpay_allow", c.postpayAllowed);
    c.orderTimeout = cfg.getInt("fuelweb.order_timeout", c.orderTimeout);
    c.underfill = cfg.getDouble("fuelweb.ctl_underfill_order", c.underfill);
    c.overfill = cfg.getDouble("fuelweb.ctl_overfill_order", c.overfill);
    c.overfillLock = cfg.getDouble("fuelweb.ctl_overfill_lock", c.overfillLock);
    c.overfillLockMinOrder = cfg.getDouble("fuelweb.ctl_overfill_lock_min_order", c.overfillLockMinOrder);
    c.overfillLockAllowed = cfg.getBool("fuelweb.ctl_overfill_lock_allow", c.overfillLockAllowed);
    c.autocafeAllowed = cfg.getBool("fuelweb.ctl_autocafe_allow", c.autocafeAllowed);
    return c;
}

void controllerSettings::applyTo(pcudata::pcuControl& prototype) const
{
    prototype.sock().setHost(host);
    prototype.sock().setPort(port);
    prototype.set_wplace(wplace);
    prototype.set_wplace_typ(wplaceType);
    prototype.set_paymnt(pmt);
    prototype.set_corp_paymnt(corpPmt);
    prototype.set_pers_paymnt(persPmt);
    prototype.postpay_allow(postpayAllowed);
    prototype.set_order_timeout(orderTimeout);
    prototype.setIpcPath(keyFile);
    prototype.set_underfill_order(underfill);
    prototype.set_overfill_order(overfill);
    prototype.set_overfill_lock(overfillLock);
    prototype.set_overfill_lock_min_order(overfillLockMinOrder);
    prototype.set_overfill_lock_allow(overfillLockAllowed);
    prototype.set_autcafe_order_allow(autocafeAllowed);
    // A lock amount of zero would block the pump after every delivery.
    if (!(prototype.get_overfill_lock() > 0.0)) prototype.set_overfill_lock_allow(false);
}

settings settings::read(const webConfig& cfg)
{
    settings s;
    s.service = serviceSettings::read(cfg);
    s.operatorListener = operatorSettings::read(cfg);
    s.script = cfg.getString("fuelweb.script", s.script);
    s.ctlKey = cfg.getString("fuelweb.ctl_key", "");
    s.platform = platformOf(cfg);
    s.upstreamKey = cfg.getString("fuelweb.upstream_key", "");
    s.controller = controllerSettings::read(cfg);
    s.statePath = cfg.getString("fuelweb.state_path", DEFAULT_STATE_PATH);
    s.noticeTiming = noticeTimingOf(cfg);
    s.journalKeepDays = cfg.getInt("fuelweb.journal_keep_days", s.journalKeepDays);
    s.benchRoute = cfg.getBool("service.bench_route", false);
    return s;
}

}  // namespace azs_apps
