#pragma once
// The web service's object for everything that concerns the pump controller:
//  - a session on the controller's control port (commands and their replies),
//  - the holder of the controller-related settings read from the configuration,
//  - the web service's handle on the shared pump table.
//
// Two kinds of objects exist at run time. Each root application object keeps one prototype, which
// holds the settings and the segment attachment and never sends commands. A request handler that
// needs the controller creates its own command session from the prototype's address and port,
// copies the workplace number and type into it, and destroys it at the end of the request.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "acfgData.h"
#include "clientSock.h"
#include "cntlMsgResult.h"
#include "shmSegment.h"
#include "trkState.h"

namespace pcudata {

class pcuControl : public clientSock {
public:
    // Built-in values, address "127.0.0.1", port 65520, not connected.
    pcuControl();
    // Built-in values, then connects at once; callers test isConnected() afterwards.
    pcuControl(const std::string& address, unsigned port);
    // Built-in values on a descriptor that is already connected to a controller (or to whatever
    // plays one, such as one end of a socket pair); the object closes it.
    explicit pcuControl(int descriptor);
    ~pcuControl();
    pcuControl(const pcuControl&) = delete;
    pcuControl& operator=(const pcuControl&) = delete;

    clientSock& sock() { return *this; }

    // --- settings -------------------------------------------------------------------------
    void set_wplace(int v) { wplace = v; }
    int get_wplace() const { return wplace; }
    void set_wplace_typ(int v) { wplace_typ = v; }
    int get_wplace_typ() const { return wplace_typ; }
    void set_paymnt(int v) { paymnt = v; }
    int get_paymnt() const { return paymnt; }
    // "Corporation" -> corporate code, "Individual" -> private code, anything else the default.
    int get_paymnt(const std::string& kind) const;
    void set_corp_paymnt(int v) { corp_paymnt = v; }
    void set_pers_paymnt(int v) { pers_paymnt = v; }
    void set_order_timeout(int v) { order_timeout = v; }
    int get_order_timeout() const { return order_timeout; }
    // The three overfill setters ignore a negative value; the underfill setter stores any value.
    void set_overfill_order(double v);
    double get_overfill_order() const { return overfill_order; }
    void set_underfill_order(double v) { underfill_order = v; }
    double get_underfill_order() const { return underfill_order; }
    void set_overfill_lock(double v);
    double get_overfill_lock() const { return overfill_lock; }
    void set_overfill_lock_min_order(double v);
    double get_overfill_lock_min_order() const { return overfill_lock_min_order; }
    void set_overfill_lock_allow(bool v) { overfill_lock_allow = v; }
    bool is_overfill_lock_allow() const { return overfill_lock_allow; }
    void set_autcafe_order_allow(bool v) { autocafe_order_allow = v; }
    bool is_autocafe_order_allow() const { return autocafe_order_allow; }
    void postpay_allow(bool v) { postpay = v; }
    bool postpay_allow() const { return postpay; }
    bool is_registered() const { return registered; }
    bool is_shm() const { return shmReady; }
    void setIpcPath(const std::string& path);
    const std::string& getIpcPath() const;
    int getLockTimeout() const { return lockTimeout; }
    int getLastError() const { return lastError; }

    // --- shared pump table -----------------------------------------------------------------
    int shmInit();
    void shmStop();
    trkState_t* getTrkState(int n);
    trkState_t* getTrkByOrderId(const std::string& orderId);
    bool isLockedTrk(const trkState_t* rec) const;
    bool lockTrkPtr(trkState_t* rec);
    trkState_t* lockTrkState(int n);
    void unlockTrkPtr(trkState_t* rec);
    void unlockTrkState(int n);
    void set_tagTrkPtr(trkState_t* rec, const std::string& orderId, const std::string& clientKey,
                       int notifyTime);
    void set_tagTrkState(int n, const std::string& orderId, const std::string& clientKey, int notifyTime);
    void clr_tagTrkPtr(trkState_t* rec, const std::string& orderId);
    void clr_tagTrkState(int n, const std::string& orderId);
    int getPcuDrvVer();
    pcuStatus_t* getPcuStatus();

    // The monitor daemon renews the table's dataTime at least every 10 seconds while it follows the
    // controller, and zeroes it when it stops. A table whose dataTime is 0 or older than this shows
    // pumps as they were, not as they are.
    static constexpr time_t TABLE_STALE_SEC = 30;
    // False while the table is stale (or not attached). The first reader that finds it stale, and
    // the first that finds it fresh again, says so in the log.
    bool tableFresh();
    // dataTime of the table (seconds since the epoch; 0: the monitor is gone or not attached).
    int64_t tableTime();
    // The pump's status as the web side may act on it: 0 (no link with the controller) while the
    // table is stale, else the record's status. -1 for a null record.
    int32_t statusOf(const trkState_t* rec);
    // A command session to the same controller, with the same workplace number and type; it
    // connects at once (callers test isConnected()). Never null.
    std::unique_ptr<pcuControl> newSession();

    // --- session ---------------------------------------------------------------------------
    bool open(const std::string& address, unsigned port);
    void close();
    void __try_Ctl_Available(int tries);
    int reconnectCtlSock(cntlMsgResult& res, int& err);

    // --- transport of one command ----------------------------------------------------------
    int _sendCommand(const std::string& cmd);
    int _readResult(cntlMsgResult& res, int& err);

    // --- pump commands: the final reply's RES (1 = carried out) or -1 --------------------------
    int register_wrkplace(cntlMsgResult& res, int& err);
    int get_price(cntlMsgResult& res, int& err, int prd, int pmt);
    int check_trk(int num, cntlMsgResult& res, int& err, int prd, int pmt);
    int LockPayment(int trk, const std::string& order, cntlMsgResult& res, int& err, int typ);
    int change_pmt(int num, const std::string& order, cntlMsgResult& res, int& err, int pmt);
    int reserve_trk(int num, cntlMsgResult& res, int& err, int prd, int pmt);
    int print_virt(int num, const std::string& order, cntlMsgResult& res, int& err);
    int release_trk(int num, const std::string& order, cntlMsgResult& res, int& err);
    int test_lock_trk(int num, const std::string& order, cntlMsgResult& res, int& err);
    int start_order_trk(int num, const std::string& order, cntlMsgResult& res, int& err, int prd, int pmt,
                        double volume, double sum, double price, int typ);
    int stop_trk(int num, const std::string& order, cntlMsgResult& res, int& err);
    int _recreate_trk_transaction(int num, const std::string& order, cntlMsgResult& res, int& err, int& step,
                                  int prd, int pmt, double volume, double sum, double price, int typ);

    // --- station configuration and prices ------------------------------------------------------
    int getAzsCfg(acfg_data& cfg, int& err);
    int getAzsPrs(acfg_data& cfg, int& err);
    int _readCfBlock(acfg_data& cfg, int& err);
    int _readPriceBlock(acfg_data& cfg, int& err);

private:
    // Drops what the controller sent before this command went out (see _sendCommand).
    void _discardStaleInput();

    int wplace = 20;
    int wplace_typ = 14;
    int paymnt = 8880;
    int corp_paymnt = 8880;
    int pers_paymnt = 8880;
    int order_timeout = 120;
    int lockTimeout = 2;
    double overfill_order = 0.0;
    double underfill_order = -1.0;
    double overfill_lock = 0.5;
    double overfill_lock_min_order = 5.0;
    bool overfill_lock_allow = false;
    bool autocafe_order_allow = false;
    int lastError = 0;
    shmSegment seg;  // segment id, address, key-file path and key of the attachment
    bool registered = false;
    bool postpay = false;
    bool shmReady = false;
};

}  // namespace pcudata
