// The controller's monitoring lines, one per input line, handled as the daemon handles them: pump
// lines merged into the pump table and published, controller status lines, flag masks. Between
// two lines the clock moves on and the web side takes the pumps' progress marks, so every line that
// is published shows in the record.
//
// What must hold after every line:
//  - a pump line is taken exactly when its first value names a pump 1..32 (read as the library's
//    integer conversion reads it), and a rejected line changes nothing at all;
//  - a taken pump line touches its own record only, never the web's fields (order tag, blocked) nor
//    the lock word, and hands back the state it published;
//  - a pump line that differs from the pump's previous one is published, an equal one is not;
//  - every text field stays terminated within its size;
//  - a status line changes the controller block only, a mask line only its one flag of each pump,
//    set to the pump's bit of the mask.
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "fuzzSupport.h"
#include "fuzzTarget.h"
#include "parseTrkState.h"
#include "pcuMonitor.h"
#include "str.h"
#include "timeSource.h"

namespace {

using pcudata::sharedTrk_t;
using pcudata::trkState_t;

constexpr size_t LINES_MAX = 64;     // lines of one input looked at
constexpr time_t LINE_STEP_SEC = 4;  // longer than the progress-mark interval
constexpr size_t LINE_CACHE_MAX = pcudata::pcuMonitor::LINE_CACHE_SIZE - 1;

class steppingClock : public pcudata::timeSource {
public:
    time_t now() override { return t; }
    int64_t nowUs() override { return static_cast<int64_t>(t) * 1000000; }
    void sleepUs(int64_t) override {}
    int64_t realWaitUs(int64_t) override { return 0; }
    time_t t = 1700000000;
};

// The pump table of this process, under a key file of its own. fuzz.sh names the key file so that
// a segment left by a crashed run is removed by the next one; otherwise a temporary file is used.
class pumpTable {
public:
    pumpTable()
    {
        const char* given = std::getenv("FUZZ_KEY_FILE");
        if (given != nullptr && *given != '\0') {
            keyFile = given;
            removeSegment();
        } else {
            char name[] = "/tmp/fuelgate_fuzz_keyXXXXXX";
            const int fd = ::mkstemp(name);
            if (fd >= 0) ::close(fd);
            keyFile = name;
            ownKeyFile = true;
        }
        holder.setIpcPath(keyFile);
        if (holder.shmInit() != 0) std::abort();
    }
    ~pumpTable()
    {
        holder.shmStop();
        removeSegment();
        if (ownKeyFile) ::unlink(keyFile.c_str());
    }
    sharedTrk_t& segment() { return *holder.shm; }

    std::string keyFile;

private:
    pcudata::shmSegment holder;
    bool ownKeyFile = false;

    void removeSegment()
    {
        const key_t key = ::ftok(keyFile.c_str(), pcudata::SHM_PROJECT_ID);
        const int id = key == -1 ? -1 : ::shmget(key, 0, 0);
        if (id >= 0) ::shmctl(id, IPC_RMID, nullptr);
    }
};

pumpTable& table()
{
    static pumpTable t;
    return t;
}

// What the web service keeps in the records: the daemon must never touch it.
void tagPumps(sharedTrk_t& seg)
{
    std::memset(&seg, 0, sizeof seg);
    pcudata::sharedTrk_init(seg);
    for (int n = 1; n <= pcudata::TRK_COUNT; ++n) {
        trkState_t& r = seg.trkState[n - 1];
        r.tagged = n % 2;
        r.tagTime = 1000 + n;
        r.blocked = n % 3 == 0;
        pcudata::trkline::setText(r.orderId, "order-" + std::to_string(n));
        pcudata::trkline::setText(r.clientKey, "client-" + std::to_string(n));
    }
}

bool sameWebFields(const trkState_t& a, const trkState_t& b)
{
    return a.lock == b.lock && a.tagged == b.tagged && a.tagTime == b.tagTime && a.blocked == b.blocked &&
           std::memcmp(a.orderId, b.orderId, sizeof a.orderId) == 0 &&
           std::memcmp(a.clientKey, b.clientKey, sizeof a.clientKey) == 0 &&
           std::memcmp(a.reserved1, b.reserved1, sizeof a.reserved1) == 0 && a.autoCafe == b.autoCafe &&
           a.autoStart == b.autoStart && a.flagE2 == b.flagE2;
}

// The fields a pump line publishes, as the caller's state and the record must agree on them.
bool samePublishedFields(const trkState_t& a, const trkState_t& b)
{
    return a.prevStatus == b.prevStatus && a.trk == b.trk && a.trkParam1 == b.trkParam1 &&
           a.trkParam2 == b.trkParam2 && a.trkParam3 == b.trkParam3 && a.prodCode == b.prodCode &&
           std::strcmp(a.prodName, b.prodName) == 0 && a.status == b.status && a.statusAux == b.statusAux &&
           a.needPayFlag == b.needPayFlag && a.payWplace == b.payWplace && a.lockWplace == b.lockWplace &&
           a.lockType == b.lockType && a.presetVolume == b.presetVolume && a.presetParam1 == b.presetParam1 &&
           a.presetParam2 == b.presetParam2 && a.presetParam3 == b.presetParam3 &&
           a.presetFlags == b.presetFlags && a.presetParam5 == b.presetParam5 && a.trannum == b.trannum &&
           a.wCode == b.wCode && std::strcmp(a.wText, b.wText) == 0 && a.volume == b.volume &&
           a.amount == b.amount;
}

bool samePumpFields(const trkState_t& a, const trkState_t& b)
{
    return samePublishedFields(a, b) && a.tagged == b.tagged && a.tagTime == b.tagTime &&
           std::strcmp(a.orderId, b.orderId) == 0 && std::strcmp(a.clientKey, b.clientKey) == 0 &&
           a.notifyDue == b.notifyDue && a.notifyTime == b.notifyTime;
}

bool sameRecord(const trkState_t& a, const trkState_t& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool textsTerminated(const trkState_t& r)
{
    return fuzzing::terminated(r.prodName) && fuzzing::terminated(r.wText) &&
           fuzzing::terminated(r.orderId) && fuzzing::terminated(r.clientKey);
}

// The values of a group body, separated by ','; a trailing ',' adds no empty value.
std::vector<std::string> valuesOf(const std::string& body)
{
    std::vector<std::string> values;
    size_t start = 0;
    while (start < body.size()) {
        const size_t comma = body.find(',', start);
        values.push_back(body.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return values;
}

// The groups of a line, separated by ';'.
std::vector<std::string> groupsOf(const std::string& line)
{
    std::vector<std::string> groups;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(';', start);
        if (end == std::string::npos) end = line.size();
        groups.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return groups;
}

// The values of the line's first group (its letter left out), as written.
std::vector<std::string> firstGroupValues(const std::string& line)
{
    return valuesOf(groupsOf(line).front().substr(1));
}

bool toInt(const std::string& text, int32_t& out)
{
    return !text.empty() && pcudata::str::_stoi(text, out) == 0;
}

// The pump a line names: its first value, or 0 when that is missing or does not convert.
int32_t namedPump(const std::string& line)
{
    const std::vector<std::string> values = firstGroupValues(line);
    int32_t n = 0;
    if (values.empty() || !toInt(values[0], n)) return 0;
    return n;
}

bool toLong(const std::string& text, int64_t& out)
{
    return !text.empty() && pcudata::str::_stol(text, out) == 0;
}

void setIfInt(const std::string& text, int32_t& field)
{
    int32_t v = 0;
    if (toInt(text, v)) field = v;
}

// N and W: "number{text}", the number being all before '{'; an empty text keeps the old one.
void expectNumberText(const std::string& body, int32_t& number, char (&text)[pcudata::TRK_TEXT_SIZE])
{
    const size_t open = body.find('{');
    setIfInt(body.substr(0, open), number);
    if (open == std::string::npos) return;
    const size_t close = body.find('}', open + 1);
    const std::string piece = body.substr(open + 1, close == std::string::npos ? close : close - open - 1);
    if (!piece.empty()) pcudata::trkline::setText(text, piece);
}

void expectValue(char letter, size_t k, const std::string& v, trkState_t& m)
{
    int32_t* const sFields[] = {nullptr,      &m.statusAux,  &m.needPayFlag,
                                &m.payWplace, &m.lockWplace, &m.lockType};
    int64_t* const presets[] = {&m.presetVolume, &m.presetParam1, &m.presetParam2, &m.presetParam3};
    int32_t n = 0;
    int64_t wide = 0;
    if (letter == 'S' && k == 0 && toInt(v, n)) {
        m.prevStatus = m.status;
        m.status = n;
    }
    if (letter == 'S' && k >= 1 && k <= 5) setIfInt(v, *sFields[k]);
    if (letter == 'P' && k <= 3 && toInt(v, n)) *presets[k] = n;  // 32-bit values in 64-bit fields
    if (letter == 'P' && k == 4) setIfInt(v, m.presetFlags);
    if (letter == 'P' && k == 5) setIfInt(v, m.presetParam5);
    if (letter == 'I' && k == 0) setIfInt(v, m.trannum);
    if (letter == 'A' && k == 0 && toLong(v, wide)) m.volume = wide;
    if (letter == 'A' && k == 1 && toLong(v, wide)) m.amount = wide;
}

// The record a published pump line must leave: the record as it was, the line's T parameters where
// given (the first when not 0, the others when not negative), then every further group in order,
// each value converted as the library converts numbers.
trkState_t expectedRecord(const trkState_t& was, const std::string& line)
{
    trkState_t m = was;
    const std::vector<std::string> groups = groupsOf(line);
    const std::vector<std::string> t = valuesOf(groups[0].substr(1));
    int32_t p[4] = {0, 0, -1, -1};
    for (size_t k = 0; k < t.size() && k < 4; ++k) setIfInt(t[k], p[k]);
    m.trk = p[0];
    if (p[1] != 0) m.trkParam1 = p[1];
    if (p[2] >= 0) m.trkParam2 = p[2];
    if (p[3] >= 0) m.trkParam3 = p[3];
    for (size_t g = 1; g < groups.size(); ++g) {
        if (groups[g].empty()) continue;
        const char letter = groups[g][0];
        const std::string body = groups[g].substr(1);
        if (letter == 'N') expectNumberText(body, m.prodCode, m.prodName);
        if (letter == 'W') expectNumberText(body, m.wCode, m.wText);
        if (letter != 'S' && letter != 'P' && letter != 'I' && letter != 'A') continue;
        const std::vector<std::string> values = valuesOf(body);
        for (size_t k = 0; k < values.size() && k < pcudata::trkline::MAX_VALUES; ++k)
            expectValue(letter, k, values[k], m);
    }
    return m;
}

struct run {
    pcudata::pcuMonitor& mon;
    sharedTrk_t& seg;
    steppingClock& clock;
    std::map<int, std::string> lastLine;  // the last taken pump line of each pump
};

void pumpLine(run& r, const std::string& line)
{
    const std::unique_ptr<sharedTrk_t> before = std::make_unique<sharedTrk_t>(r.seg);
    trkState_t state;
    pcudata::trkState_clear(state);
    const int32_t rc = r.mon.parseTrkState_n(line, state);

    const bool hasValues = line.size() > 1 && line[1] != ';';
    const int32_t n = hasValues ? namedPump(line) : 0;
    if (n < 1 || n > pcudata::TRK_COUNT) {
        FUZZ_CHECK(rc == -1);
        FUZZ_CHECK(std::memcmp(before.get(), &r.seg, sizeof r.seg) == 0);
        return;
    }
    FUZZ_CHECK(rc == 0);
    FUZZ_CHECK(state.trk == n);
    FUZZ_CHECK(std::memcmp(&before->pcuStatus, &r.seg.pcuStatus, sizeof r.seg.pcuStatus) == 0);
    for (int k = 1; k <= pcudata::TRK_COUNT; ++k)
        if (k != n) FUZZ_CHECK(sameRecord(before->trkState[k - 1], r.seg.trkState[k - 1]));

    const trkState_t& was = before->trkState[n - 1];
    const trkState_t& rec = r.seg.trkState[n - 1];
    FUZZ_CHECK(sameWebFields(was, rec));
    FUZZ_CHECK(rec.lock == pcudata::TRK_LOCK_FREE);
    FUZZ_CHECK(textsTerminated(rec) && textsTerminated(state));
    FUZZ_CHECK(samePumpFields(state, rec));

    const auto last = r.lastLine.find(n);
    // The daemon remembers a line of at most LINE_CACHE_MAX bytes; a longer one is never a repeat.
    const bool repeat = last != r.lastLine.end() && last->second == line && line.size() <= LINE_CACHE_MAX;
    r.lastLine[n] = line;
    if (repeat) {
        FUZZ_CHECK(sameRecord(was, rec));
        return;
    }
    FUZZ_CHECK(samePublishedFields(rec, expectedRecord(was, line)));
    // The web side took the previous mark and the clock has moved on by more than the interval.
    FUZZ_CHECK(rec.trk == n);
    FUZZ_CHECK(rec.notifyDue == 1 && rec.notifyTime == static_cast<int32_t>(r.clock.t));
}

void statusLine(run& r, const std::string& line)
{
    const std::unique_ptr<sharedTrk_t> before = std::make_unique<sharedTrk_t>(r.seg);
    const int32_t rc = r.mon.parsePcuStatus(line);
    FUZZ_CHECK(rc == 0 || rc == -1);
    FUZZ_CHECK(std::memcmp(before->trkState, r.seg.trkState, sizeof r.seg.trkState) == 0);
    FUZZ_CHECK(r.seg.pcuStatus.dataTime == before->pcuStatus.dataTime);
    FUZZ_CHECK(fuzzing::terminated(r.seg.pcuStatus.drvText1) &&
               fuzzing::terminated(r.seg.pcuStatus.drvText2));
    if (rc == -1) FUZZ_CHECK(std::memcmp(before.get(), &r.seg, sizeof r.seg) == 0);
}

// Which flag a mask line sets, and the mask, read from the line's values as written.
int32_t* maskedFlag(trkState_t& rec, char letter, int32_t kind)
{
    if (letter == 'Y') return &rec.autoCafe;
    if (kind == 0) return &rec.autoStart;
    if (kind == 2) return &rec.flagE2;
    return nullptr;
}

void maskLine(run& r, const std::string& line)
{
    const std::unique_ptr<sharedTrk_t> before = std::make_unique<sharedTrk_t>(r.seg);
    const int32_t rc = r.mon.parseTrkBitFlags(line);
    FUZZ_CHECK(rc == 0 || rc == -1);
    FUZZ_CHECK(std::memcmp(&before->pcuStatus, &r.seg.pcuStatus, sizeof r.seg.pcuStatus) == 0);

    const std::vector<std::string> values = firstGroupValues(line);
    const size_t maskAt = line[0] == 'E' ? 1 : 3;
    int32_t kind = 0, mask = 0;
    if (!values.empty()) toInt(values[0], kind);
    const bool masked = values.size() > maskAt && toInt(values[maskAt], mask);
    for (int n = 1; n <= pcudata::TRK_COUNT; ++n) {
        trkState_t expected = before->trkState[n - 1];
        int32_t* flag = masked ? maskedFlag(expected, line[0], kind) : nullptr;
        if (flag != nullptr) *flag = static_cast<int32_t>((static_cast<uint32_t>(mask) >> (n - 1)) & 1u);
        FUZZ_CHECK(sameRecord(expected, r.seg.trkState[n - 1]));
    }
}

// The stand-alone parser on the same line, into a record of its own.
void standaloneLine(const std::string& line)
{
    trkState_t rec;
    std::memset(&rec, 0, sizeof rec);
    pcudata::trkState_clear(rec);
    const int32_t rc = pcudata::parse_to_trkstate(line, rec);
    FUZZ_CHECK(rc == (line.empty() || line[0] != 'T' ? -1 : 0));
    FUZZ_CHECK(textsTerminated(rec));
    FUZZ_CHECK(rec.lock == 0 && rec.tagged == 0 && rec.orderId[0] == '\0' && rec.clientKey[0] == '\0');
}

}  // namespace

FUZZ_TARGET(monitorLine)
{
    fuzzing::quietLogs();
    pumpTable& t = table();
    sharedTrk_t& seg = t.segment();
    tagPumps(seg);
    steppingClock clock;
    pcudata::timeSourceGuard guard(&clock);
    pcudata::pcuMonitor mon;
    mon.setIpcPath(t.keyFile);
    FUZZ_CHECK(mon.shmInit() == 0);

    run r{mon, seg, clock, {}};
    size_t count = 0;
    for (const std::string& line : fuzzing::lines(input)) {
        if (++count > LINES_MAX) break;
        clock.t += LINE_STEP_SEC;
        for (trkState_t& rec : seg.trkState) rec.notifyDue = 0;
        standaloneLine(line);
        if (line.empty()) continue;
        if (line[0] == 'T') pumpLine(r, line);
        if (line[0] == 'D') statusLine(r, line);
        if (line[0] == 'E' || line[0] == 'Y') maskLine(r, line);
    }
}
