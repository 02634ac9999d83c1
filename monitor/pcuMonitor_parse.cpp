// The three parsers of the monitoring lines and the publication of pump lines.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>

#include "parseTrkState.h"
#include "pcuMonitor.h"
#include "timeSource.h"

namespace pcudata {

namespace {

constexpr size_t DRV_TEXT_MAX = DRV_TEXT_SIZE - 1;

// Values of the first group of a line (its key letter left out).
void firstGroupValues(std::string_view line, trkline::values& out)
{
    size_t pos = 0;
    std::string_view group;
    out.count = 0;
    if (trkline::nextGroup(line, pos, group) && !group.empty())
        trkline::splitValues(group.substr(1), ',', out);
}

void setDrvText(char (&field)[DRV_TEXT_SIZE], std::string_view text)
{
    const size_t len = text.size() < DRV_TEXT_MAX ? text.size() : DRV_TEXT_MAX;
    std::memcpy(field, text.data(), len);
    field[len] = '\0';
}

// N and W of a pump line: "number{text}". An empty text between the braces keeps the merged one.
void applyNumberText(std::string_view body, int32_t& number, char (&text)[TRK_TEXT_SIZE])
{
    const size_t open = body.find('{');
    trkline::toInt32(body.substr(0, open), number);
    if (open == std::string_view::npos) return;
    const size_t close = body.find('}', open + 1);
    const size_t len = close == std::string_view::npos ? std::string_view::npos : close - open - 1;
    const std::string_view piece = body.substr(open + 1, len);
    if (!piece.empty()) trkline::setText(text, piece);
}

// One byte at a time, each a single load and store.
void copyTextField(char (&to)[TRK_TEXT_SIZE], const char (&from)[TRK_TEXT_SIZE])
{
    for (size_t i = 0; i < TRK_TEXT_SIZE; ++i) poke(to[i], peek(from[i]));
}

// Copies into or out of the published record: each value is read and written as a single load and
// store, since the web service reads and writes some of these without taking the record's lock.
void copyDaemonFields(trkState_t& rec, const trkState_t& s)
{
    poke(rec.prevStatus, peek(s.prevStatus));
    poke(rec.trk, peek(s.trk));
    poke(rec.trkParam1, peek(s.trkParam1));
    poke(rec.trkParam2, peek(s.trkParam2));
    poke(rec.trkParam3, peek(s.trkParam3));
    poke(rec.prodCode, peek(s.prodCode));
    copyTextField(rec.prodName, s.prodName);
    poke(rec.status, peek(s.status));
    poke(rec.statusAux, peek(s.statusAux));
    poke(rec.needPayFlag, peek(s.needPayFlag));
    poke(rec.payWplace, peek(s.payWplace));
    poke(rec.lockWplace, peek(s.lockWplace));
    poke(rec.lockType, peek(s.lockType));
    poke(rec.presetVolume, peek(s.presetVolume));
    poke(rec.presetParam1, peek(s.presetParam1));
    poke(rec.presetParam2, peek(s.presetParam2));
    poke(rec.presetParam3, peek(s.presetParam3));
    poke(rec.presetFlags, peek(s.presetFlags));
    poke(rec.presetParam5, peek(s.presetParam5));
    poke(rec.trannum, peek(s.trannum));
    poke(rec.wCode, peek(s.wCode));
    copyTextField(rec.wText, s.wText);
    poke(rec.volume, peek(s.volume));
    poke(rec.amount, peek(s.amount));
}

}  // namespace

int32_t pcuMonitor::parseTrkState_n(const std::string& line, trkState_t& state)
{
    if (!seg.isAttached()) {
        seg.lastError = EFAULT;
        return -1;
    }
    if (line.empty() || line[0] != 'T') return -1;
    size_t pos = 0;
    std::string_view tgroup;
    trkline::nextGroup(line, pos, tgroup);
    if (tgroup.size() < 2) return -1;  // no values
    state.trk = 0;                     // a missing or unreadable pump number counts as 0
    trkline::applyGroupValues('T', tgroup.substr(1), state, false);
    trkState_t* rec = seg.getTrkState(state.trk);
    if (rec == nullptr) return -1;  // lastError 22

    mergeFromRecord(*rec, state);
    if (isRepeat(state.trk, line)) return 0;
    rememberLine(state.trk, line);
    applyGroups(line, state);
    publish(rec, state);
    return 0;
}

// Everything the line does not carry comes from the published record, so that a line holding only
// what changed still leaves a complete state. The T parameters count as not carried when they
// still hold their cleared values. The record is read without its lock: texts are terminated here
// in case a writer is half-way through one.
void pcuMonitor::mergeFromRecord(const trkState_t& rec, trkState_t& s) const
{
    const int32_t trk = s.trk, p1 = s.trkParam1, p2 = s.trkParam2, p3 = s.trkParam3;
    copyDaemonFields(s, rec);
    s.trk = trk;
    s.trkParam1 = p1 != 0 ? p1 : rec.trkParam1;
    s.trkParam2 = p2 >= 0 ? p2 : rec.trkParam2;
    s.trkParam3 = p3 >= 0 ? p3 : rec.trkParam3;
    s.prodName[TRK_TEXT_SIZE - 1] = '\0';
    s.wText[TRK_TEXT_SIZE - 1] = '\0';

    s.tagged = peek(rec.tagged);
    s.tagTime = peek(rec.tagTime);
    peekText(s.orderId, rec.orderId);
    peekText(s.clientKey, rec.clientKey);
    s.notifyDue = peek(rec.notifyDue);
    s.notifyTime = peek(rec.notifyTime);
}

// Equal in length and in every byte: "T5" is no repeat of "T5\0;S8", whose NUL the controller did
// send and whose S group counts.
bool pcuMonitor::isRepeat(int n, const std::string& line) const
{
    return line.size() == lineLength[n - 1] && line.size() < LINE_CACHE_SIZE &&
           std::memcmp(lineCache[n - 1], line.data(), line.size()) == 0;
}

// A line longer than the cache is forgotten rather than cut: its first 1023 bytes are another
// line, which would otherwise be taken for its repeat and never published.
void pcuMonitor::rememberLine(int n, const std::string& line)
{
    if (line.size() >= LINE_CACHE_SIZE) {
        forgetLine(n);
        return;
    }
    std::memcpy(lineCache[n - 1], line.data(), line.size());
    lineCache[n - 1][line.size()] = '\0';
    lineLength[n - 1] = line.size();
}

void pcuMonitor::applyGroups(const std::string& line, trkState_t& s) const
{
    size_t pos = 0;
    std::string_view group;
    trkline::nextGroup(line, pos, group);  // the T group, already read
    while (trkline::nextGroup(line, pos, group)) {
        if (group.empty()) continue;
        const std::string_view body = group.substr(1);
        if (group[0] == 'N')
            applyNumberText(body, s.prodCode, s.prodName);
        else if (group[0] == 'W')
            applyNumberText(body, s.wCode, s.wText);
        else if (group[0] != 'T')  // further T groups are ignored
            trkline::applyGroupValues(group[0], body, s, false);
    }
}

// The line is already in the cache. When the record stays locked it is forgotten again, so that
// the controller's next repeat of the same line is published instead of being filtered out.
void pcuMonitor::publish(trkState_t* rec, trkState_t& state)
{
    if (!lockForUpdate(rec)) {
        forgetLine(state.trk);
        return;
    }
    copyDaemonFields(*rec, state);
    const time_t now = timeSrc().now();
    if (rec->notifyDue == 0 && now - rec->notifyTime > notifyInterval) {
        poke(rec->notifyTime, static_cast<int32_t>(now));
        poke(rec->notifyDue, 1);
        state.notifyTime = rec->notifyTime;
        state.notifyDue = 1;
    }
    unlockAfterUpdate(rec);
}

int32_t pcuMonitor::parsePcuStatus(const std::string& line)
{
    pcuStatus_t* st = seg.getPcuStatus();
    if (st == nullptr) return -1;  // lastError 14
    if (line.empty() || line[0] != 'D') return -1;
    trkline::values values;
    firstGroupValues(line, values);
    if (values.count == 0) return -1;
    for (size_t k = 0; k < values.count; ++k) {
        const std::string_view v = values.at[k];
        int32_t n = 0;
        if (v.empty()) continue;
        if (k == 1 || k == 2) {
            setDrvText(k == 1 ? st->drvText1 : st->drvText2, v);
            continue;
        }
        if (!trkline::toInt32(v, n)) continue;
        switch (k) {
            case 0:
                st->drvState = n;
                break;
            case 3:
                st->drvParam3 = n;
                break;
            case 4:
                st->drvParam4 = n;
                break;
            case 5:
                st->drvParam5 = n;
                break;
            case 6:
                st->drvParam6 = n;
                break;
            case 7:
                st->drvVersion = n;
                break;
            default:
                break;
        }
    }
    return 0;
}

int32_t pcuMonitor::parseTrkBitFlags(const std::string& line)
{
    if (!seg.isAttached()) {
        seg.lastError = EFAULT;
        return -1;
    }
    if (line.empty() || (line[0] != 'E' && line[0] != 'Y')) return -1;
    const char letter = line[0];
    trkline::values values;
    firstGroupValues(line, values);
    if (values.count == 0) return -1;
    const size_t maskAt = letter == 'E' ? 1 : 3;
    int32_t kind = 0;
    for (size_t k = 0; k < values.count && k <= maskAt; ++k) {
        int32_t v = 0;
        if (!trkline::toInt32(values.at[k], v)) continue;
        if (k == 0) kind = v;
        if (k == maskAt) setBitFlags(letter, kind, v);
    }
    return 0;
}

// Bit j - 1 of the mask belongs to pump j. A pump whose lock is not obtained keeps its old value.
void pcuMonitor::setBitFlags(char letter, int32_t kind, int32_t mask)
{
    const uint32_t bits = static_cast<uint32_t>(mask);
    for (int n = 1; n <= TRK_COUNT; ++n) {
        trkState_t* rec = seg.getTrkState(n);
        if (!lockForUpdate(rec)) continue;
        const int32_t bit = static_cast<int32_t>((bits >> (n - 1)) & 1u);
        if (letter == 'Y')
            rec->autoCafe = bit;
        else if (kind == 0)
            rec->autoStart = bit;
        else if (kind == 2)
            rec->flagE2 = bit;
        unlockAfterUpdate(rec);
    }
}

// The section opens before the attempt: the lock may be taken at any poll of the wait, and a
// handler could not tell whether the word it sees at 4 is ours or the web service's.
bool pcuMonitor::lockForUpdate(trkState_t* rec)
{
    inLockSection = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (lockTrkPtr(rec)) return true;
    leaveLockSection();
    return false;
}

void pcuMonitor::unlockAfterUpdate(trkState_t* rec)
{
    unlockTrkPtr(rec);
    leaveLockSection();
}

void pcuMonitor::leaveLockSection()
{
    std::atomic_signal_fence(std::memory_order_seq_cst);
    inLockSection = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const int sig = deferredSignal;
    if (sig == 0) return;
    deferredSignal = 0;
    ::raise(sig);
}

bool pcuMonitor::deferStop(int sig)
{
    if (inLockSection == 0) return false;
    if (deferredSignal == 0) deferredSignal = sig;
    return true;
}

}  // namespace pcudata
