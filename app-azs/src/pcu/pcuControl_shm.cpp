// The web service's side of the shared pump table: attachment, record lookup, the per-pump lock
// with the web wait, and the order tag.
//
// The segment code itself lives in shmSegment; this file keeps pcuControl's own error number in
// step with it, so that an operation that does not fail leaves the caller's lastError as it was.
#include <Poco/Logger.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "pcuControl.h"
#include "timeSource.h"

namespace pcudata {

namespace {

bool sameText(const char* field, const std::string& text)
{
    return ::strnlen(field, TRK_TEXT_SIZE) == text.size() &&
           std::memcmp(field, text.data(), text.size()) == 0;
}

// Tag fields shared by both set-tag forms; the caller holds the record's lock. The monitor reads
// them without it, so each is written with single stores.
void writeTag(trkState_t* rec, const std::string& orderId, const std::string& clientKey, int notifyTime)
{
    poke(rec->tagged, 1);
    if (!orderId.empty()) pokeText(rec->orderId, orderId);
    if (!clientKey.empty()) pokeText(rec->clientKey, clientKey);
    if (notifyTime > 0) {
        poke(rec->notifyTime, static_cast<int32_t>(notifyTime));
        poke(rec->notifyDue, 0);
    }
}

// Removes the tag when it carries orderId; the caller holds the record's lock.
void clearTag(trkState_t* rec, const std::string& orderId)
{
    if (!sameText(rec->orderId, orderId)) return;
    poke(rec->tagged, 0);
    poke(rec->orderId[0], '\0');
    poke(rec->clientKey[0], '\0');
    poke(rec->notifyTime, 0);
    poke(rec->notifyDue, 0);
}

}  // namespace

int pcuControl::shmInit()
{
    seg.lastError = lastError;
    int rc = seg.shmInit();
    lastError = seg.lastError;
    shmReady = rc == 0;
    return rc;
}

void pcuControl::shmStop()
{
    seg.shmStop(false);
    shmReady = false;
}

trkState_t* pcuControl::getTrkState(int n)
{
    seg.lastError = lastError;
    trkState_t* rec = seg.getTrkState(n);
    lastError = seg.lastError;
    return rec;
}

pcuStatus_t* pcuControl::getPcuStatus()
{
    seg.lastError = lastError;
    pcuStatus_t* status = seg.getPcuStatus();
    lastError = seg.lastError;
    return status;
}

namespace {

// Whether the table was last found stale (1) or fresh (0), for the whole process: the readers are
// many (every request and watch), the warning is one per change. -1 until the first look.
std::atomic<int> lastSeenStale{-1};

void noteFreshness(bool stale, int64_t age)
{
    const int seen = stale ? 1 : 0;
    const int before = lastSeenStale.exchange(seen);
    if (before == seen || (before == -1 && !stale)) return;
    Poco::Logger& log = Poco::Logger::get("fuelweb");
    if (!stale) {
        poco_warning(log, "Таблица состояния ТРК снова обновляется монитором ТРК");
        return;
    }
    const std::string why =
        age < 0 ? std::string("монитор ТРК остановлен") : "не обновляется " + std::to_string(age) + " с";
    poco_warning(log, "Таблица состояния ТРК устарела (" + why +
                          "): состояние всех ТРК считается неизвестным (нет связи с контроллером)");
}

}  // namespace

bool pcuControl::tableFresh()
{
    pcuStatus_t* status = getPcuStatus();
    const int64_t dataTime = status == nullptr ? 0 : peek(status->dataTime);
    // A time ahead of the clock (the clock was set back) still comes from a daemon that renews it.
    const int64_t age = dataTime == 0 ? -1 : static_cast<int64_t>(timeSrc().now()) - dataTime;
    const bool stale = age < 0 ? dataTime == 0 : age > TABLE_STALE_SEC;
    noteFreshness(stale, age);
    return !stale;
}

int64_t pcuControl::tableTime()
{
    pcuStatus_t* status = getPcuStatus();
    return status == nullptr ? 0 : peek(status->dataTime);
}

int32_t pcuControl::statusOf(const trkState_t* rec)
{
    if (rec == nullptr) return TRK_STATUS_UNKNOWN;
    if (!tableFresh()) return trkStatus::NO_CONTROLLER;
    return peek(rec->status);
}

std::unique_ptr<pcuControl> pcuControl::newSession()
{
    auto session = std::make_unique<pcuControl>(sock().getHost(), sock().getPort());
    session->set_wplace(wplace);
    session->set_wplace_typ(wplace_typ);
    return session;
}

int pcuControl::getPcuDrvVer()
{
    pcuStatus_t* status = getPcuStatus();
    return status == nullptr ? -1 : status->drvVersion;
}

// Reads without the locks: a record in the middle of an update still carries its order id.
trkState_t* pcuControl::getTrkByOrderId(const std::string& orderId)
{
    if (orderId.empty()) return nullptr;
    for (int n = 1; n <= TRK_COUNT; ++n) {
        trkState_t* rec = getTrkState(n);
        if (rec == nullptr) return nullptr;
        if (sameText(rec->orderId, orderId)) return rec;
    }
    return nullptr;
}

bool pcuControl::isLockedTrk(const trkState_t* rec) const
{
    return shmSegment::isLockedTrk(rec);
}

bool pcuControl::lockTrkPtr(trkState_t* rec)
{
    if (rec == nullptr) return false;
    seg.lastError = lastError;
    bool locked = seg.lockTrkPtr(rec, lockWait::web(lockTimeout));
    lastError = seg.lastError;
    return locked;
}

trkState_t* pcuControl::lockTrkState(int n)
{
    trkState_t* rec = getTrkState(n);
    if (rec == nullptr || !lockTrkPtr(rec)) return nullptr;
    return rec;
}

void pcuControl::unlockTrkPtr(trkState_t* rec)
{
    shmSegment::unlockTrkPtr(rec);
}

void pcuControl::unlockTrkState(int n)
{
    unlockTrkPtr(getTrkState(n));
}

void pcuControl::set_tagTrkPtr(trkState_t* rec, const std::string& orderId, const std::string& clientKey,
                               int notifyTime)
{
    if (rec == nullptr || !lockTrkPtr(rec)) return;
    writeTag(rec, orderId, clientKey, notifyTime);
    poke(rec->tagTime, static_cast<int32_t>(timeSrc().now()));
    unlockTrkPtr(rec);
}

void pcuControl::set_tagTrkState(int n, const std::string& orderId, const std::string& clientKey,
                                 int notifyTime)
{
    trkState_t* rec = lockTrkState(n);
    if (rec == nullptr) return;
    writeTag(rec, orderId, clientKey, notifyTime);
    unlockTrkPtr(rec);
}

void pcuControl::clr_tagTrkPtr(trkState_t* rec, const std::string& orderId)
{
    if (orderId.empty() || rec == nullptr || !lockTrkPtr(rec)) return;
    clearTag(rec, orderId);
    unlockTrkPtr(rec);
}

void pcuControl::clr_tagTrkState(int n, const std::string& orderId)
{
    if (orderId.empty()) return;
    trkState_t* rec = lockTrkState(n);
    if (rec == nullptr) return;
    clearTag(rec, orderId);
    unlockTrkPtr(rec);
}

}  // namespace pcudata
