#pragma once
// The pump table shared by the monitor daemon and the web service.
//
// Both programs are built separately and meet only through a System V shared-memory segment, so the
// records below are a binary format: every field sits at a fixed offset, and reserved words and
// alignment padding are spelled out as members so that nothing about the layout is left to the
// compiler. The static_asserts at the end pin every offset.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace pcudata {

constexpr int32_t TRK_COUNT = 32;             // pump slots; pump n lives in slot n - 1
constexpr size_t SHM_SEGMENT_SIZE = 36176;    // exact size of the segment, sizeof(sharedTrk_t)
constexpr int32_t SHM_PROJECT_ID = 'M';       // ftok project id of the segment key
constexpr unsigned SHM_KEY_FILE_MODE = 0666;  // key file and segment are open to both programs' users
constexpr int32_t TRK_NOTIFY_INTERVAL = 3;    // seconds between two progress marks of one pump
constexpr size_t TRK_TEXT_SIZE = 120;         // every text of a pump record, NUL included
constexpr size_t DRV_TEXT_SIZE = 10;          // texts of the controller status block, NUL included

// Values of a pump record's lock word.
constexpr int32_t TRK_LOCK_FREE = 0;
constexpr int32_t TRK_LOCK_HELD = 4;

// Pump status codes of trkState_t::status (texts in trkStatusText).
constexpr int32_t TRK_STATUS_UNKNOWN = -1;
constexpr int32_t TRK_STATUS_MAX = 16;

namespace trkStatus {
constexpr int32_t NO_CONTROLLER = 0;     // the controller has lost its pumps
constexpr int32_t NO_LINK = 1;           // the controller has lost this pump
constexpr int32_t IDLE_NOZZLE_UP = 2;    // idle, nozzle lifted
constexpr int32_t IDLE = 3;              // idle, nozzle on its hook
constexpr int32_t READY_PROGRAM = 4;     // preset given, waiting for the nozzle (program)
constexpr int32_t READY_CONTROLLER = 5;  // preset given, waiting for the nozzle (controller)
constexpr int32_t READY_PUMP = 6;        // preset in the pump, waiting for the nozzle
constexpr int32_t DELIVERING = 7;
constexpr int32_t PAUSED = 8;
constexpr int32_t DELIVERY_ENDED = 9;  // waiting for the pump's final figures
constexpr int32_t BUSY = 10;           // reserved or busy with a till or terminal
constexpr int32_t NEED_PAY = 11;       // idle, the last delivery waits for settlement
constexpr int32_t INITIALISING = 12;
constexpr int32_t OFF = 13;
constexpr int32_t STOPPED = 14;  // stopped, the nozzle must be hung up
constexpr int32_t EMERGENCY_DELIVERY = 15;
constexpr int32_t BLOCKED = 16;

inline bool idle(int32_t s)
{
    return s == IDLE_NOZZLE_UP || s == IDLE;
}
inline bool ready(int32_t s)
{
    return s >= READY_PROGRAM && s <= READY_PUMP;
}
inline bool flowing(int32_t s)
{
    return s >= DELIVERING && s <= DELIVERY_ENDED;
}
}  // namespace trkStatus

// The text of a record's text field, up to its NUL and never past the field.
inline std::string fieldText(const char (&field)[TRK_TEXT_SIZE])
{
    return std::string(field, ::strnlen(field, TRK_TEXT_SIZE));
}

// Reads one field of a record without its lock, as a single load: the other program may be
// writing the record at the same moment, and a torn or re-read value must not be acted on.
template <class T>
T peek(const T& field)
{
    return __atomic_load_n(&field, __ATOMIC_RELAXED);
}

// Writes one field of a record, under its lock, as a single store: the other program may peek at
// it meanwhile.
template <class T>
void poke(T& field, T value)
{
    __atomic_store_n(&field, value, __ATOMIC_RELAXED);
}

// A text field read without the record's lock, one single load per byte; the copy ends in a NUL
// within the field, since the writer may be half-way through it.
inline void peekText(char (&copy)[TRK_TEXT_SIZE], const char (&field)[TRK_TEXT_SIZE])
{
    for (size_t i = 0; i < TRK_TEXT_SIZE; ++i) copy[i] = peek(field[i]);
    copy[TRK_TEXT_SIZE - 1] = '\0';
}

// A text field written under the record's lock, one single store per byte, cut to the field and
// ended with a NUL: the other program may peek at it meanwhile.
inline void pokeText(char (&field)[TRK_TEXT_SIZE], const std::string& text)
{
    const size_t n = text.size() < TRK_TEXT_SIZE - 1 ? text.size() : TRK_TEXT_SIZE - 1;
    for (size_t i = 0; i < n; ++i) poke(field[i], text[i]);
    poke(field[n], '\0');
}

// Controller status block, filled from the controller's D lines.
struct pcuStatus_t {
    int64_t drvState;
    int64_t dataTime;  // last good read of the daemon from the monitoring port; 0 = daemon gone
    char drvText1[DRV_TEXT_SIZE];
    char drvText2[DRV_TEXT_SIZE];
    char pad1[4];
    int64_t drvParam3;
    int64_t drvParam4;
    int32_t drvParam5;
    int32_t drvParam6;
    int32_t drvVersion;  // controller driver version
    char pad2[4];
};

// One pump. Fields marked "web" are written only by the web service, the others by the daemon
// (notifyTime and notifyDue by both); all writes happen under the record's lock word.
struct trkState_t {
    int32_t lock;                   // TRK_LOCK_FREE or TRK_LOCK_HELD
    int32_t tagged;                 // web: 1 while an order is on the pump
    char reserved1[TRK_TEXT_SIZE];  // copied along, otherwise unused
    char orderId[TRK_TEXT_SIZE];    // web
    char clientKey[TRK_TEXT_SIZE];  // web
    char reserved2[TRK_TEXT_SIZE];
    char reserved3[TRK_TEXT_SIZE];
    int32_t reserved4;
    int32_t tagTime;     // web: when the tag was set
    int32_t notifyTime;  // last progress mark
    int32_t notifyDue;   // 1 = a progress report is due
    int32_t prevStatus;
    int32_t trk;  // 0 until the daemon has published the pump
    int32_t trkParam1;
    int32_t trkParam2;
    int32_t trkParam3;
    int32_t prodCode;
    char prodName[TRK_TEXT_SIZE];
    int32_t status;  // pump status code, -1 unknown
    int32_t statusAux;
    int32_t needPayFlag;  // bit 0: last delivery still unpaid
    int32_t payWplace;
    int32_t lockWplace;
    int32_t lockType;
    int32_t reserved5;
    char reserved6[TRK_TEXT_SIZE];
    char pad1[4];
    int64_t presetVolume;  // millilitres
    int64_t presetParam1;
    int64_t presetParam2;
    int64_t presetParam3;
    int32_t presetFlags;
    int32_t presetParam5;
    int32_t trannum;  // controller transaction number
    int32_t wCode;
    char wText[TRK_TEXT_SIZE];
    int64_t volume;  // millilitres
    int64_t amount;  // hundredths of the currency unit
    int32_t autoCafe;
    int32_t autoStart;
    int32_t flagE2;
    int32_t blocked;  // web: pump closed to remote orders
    int32_t reserved7;
    char pad2[4];
};

// The whole segment.
struct sharedTrk_t {
    int32_t header;
    char pad1[4];
    pcuStatus_t pcuStatus;
    trkState_t trkState[TRK_COUNT];
};

void trkState_clear(trkState_t& state);
void pcuStatus_clear(pcuStatus_t& status);
void sharedTrk_init(sharedTrk_t& segment);

// Copies every field but the lock word, so that a record can be refreshed from a scratch copy
// without disturbing whoever holds its lock. False when either side is null.
bool copyTrkState(trkState_t* target, const trkState_t* source);

// Operator text of a pump status code; any code outside 0..16 reads as unknown.
const char* trkStatusText(int32_t status);

static_assert(std::is_standard_layout<pcuStatus_t>::value, "pcuStatus_t is a shared binary record");
static_assert(std::is_standard_layout<trkState_t>::value, "trkState_t is a shared binary record");
static_assert(std::is_standard_layout<sharedTrk_t>::value, "sharedTrk_t is a shared binary record");

static_assert(sizeof(pcuStatus_t) == 72, "pcuStatus_t size");
static_assert(offsetof(pcuStatus_t, drvState) == 0, "drvState");
static_assert(offsetof(pcuStatus_t, dataTime) == 8, "dataTime");
static_assert(offsetof(pcuStatus_t, drvText1) == 16, "drvText1");
static_assert(offsetof(pcuStatus_t, drvText2) == 26, "drvText2");
static_assert(offsetof(pcuStatus_t, pad1) == 36, "pcuStatus_t pad1");
static_assert(offsetof(pcuStatus_t, drvParam3) == 40, "drvParam3");
static_assert(offsetof(pcuStatus_t, drvParam4) == 48, "drvParam4");
static_assert(offsetof(pcuStatus_t, drvParam5) == 56, "drvParam5");
static_assert(offsetof(pcuStatus_t, drvParam6) == 60, "drvParam6");
static_assert(offsetof(pcuStatus_t, drvVersion) == 64, "drvVersion");
static_assert(offsetof(pcuStatus_t, pad2) == 68, "pcuStatus_t pad2");

static_assert(sizeof(trkState_t) == 1128, "trkState_t size");
static_assert(offsetof(trkState_t, lock) == 0, "lock");
static_assert(offsetof(trkState_t, tagged) == 4, "tagged");
static_assert(offsetof(trkState_t, reserved1) == 8, "reserved1");
static_assert(offsetof(trkState_t, orderId) == 128, "orderId");
static_assert(offsetof(trkState_t, clientKey) == 248, "clientKey");
static_assert(offsetof(trkState_t, reserved2) == 368, "reserved2");
static_assert(offsetof(trkState_t, reserved3) == 488, "reserved3");
static_assert(offsetof(trkState_t, reserved4) == 608, "reserved4");
static_assert(offsetof(trkState_t, tagTime) == 612, "tagTime");
static_assert(offsetof(trkState_t, notifyTime) == 616, "notifyTime");
static_assert(offsetof(trkState_t, notifyDue) == 620, "notifyDue");
static_assert(offsetof(trkState_t, prevStatus) == 624, "prevStatus");
static_assert(offsetof(trkState_t, trk) == 628, "trk");
static_assert(offsetof(trkState_t, trkParam1) == 632, "trkParam1");
static_assert(offsetof(trkState_t, trkParam2) == 636, "trkParam2");
static_assert(offsetof(trkState_t, trkParam3) == 640, "trkParam3");
static_assert(offsetof(trkState_t, prodCode) == 644, "prodCode");
static_assert(offsetof(trkState_t, prodName) == 648, "prodName");
static_assert(offsetof(trkState_t, status) == 768, "status");
static_assert(offsetof(trkState_t, statusAux) == 772, "statusAux");
static_assert(offsetof(trkState_t, needPayFlag) == 776, "needPayFlag");
static_assert(offsetof(trkState_t, payWplace) == 780, "payWplace");
static_assert(offsetof(trkState_t, lockWplace) == 784, "lockWplace");
static_assert(offsetof(trkState_t, lockType) == 788, "lockType");
static_assert(offsetof(trkState_t, reserved5) == 792, "reserved5");
static_assert(offsetof(trkState_t, reserved6) == 796, "reserved6");
static_assert(offsetof(trkState_t, pad1) == 916, "trkState_t pad1");
static_assert(offsetof(trkState_t, presetVolume) == 920, "presetVolume");
static_assert(offsetof(trkState_t, presetParam1) == 928, "presetParam1");
static_assert(offsetof(trkState_t, presetParam2) == 936, "presetParam2");
static_assert(offsetof(trkState_t, presetParam3) == 944, "presetParam3");
static_assert(offsetof(trkState_t, presetFlags) == 952, "presetFlags");
static_assert(offsetof(trkState_t, presetParam5) == 956, "presetParam5");
static_assert(offsetof(trkState_t, trannum) == 960, "trannum");
static_assert(offsetof(trkState_t, wCode) == 964, "wCode");
static_assert(offsetof(trkState_t, wText) == 968, "wText");
static_assert(offsetof(trkState_t, volume) == 1088, "volume");
static_assert(offsetof(trkState_t, amount) == 1096, "amount");
static_assert(offsetof(trkState_t, autoCafe) == 1104, "autoCafe");
static_assert(offsetof(trkState_t, autoStart) == 1108, "autoStart");
static_assert(offsetof(trkState_t, flagE2) == 1112, "flagE2");
static_assert(offsetof(trkState_t, blocked) == 1116, "blocked");
static_assert(offsetof(trkState_t, reserved7) == 1120, "reserved7");
static_assert(offsetof(trkState_t, pad2) == 1124, "trkState_t pad2");

static_assert(sizeof(sharedTrk_t) == SHM_SEGMENT_SIZE, "sharedTrk_t size");
static_assert(offsetof(sharedTrk_t, header) == 0, "header");
static_assert(offsetof(sharedTrk_t, pad1) == 4, "sharedTrk_t pad1");
static_assert(offsetof(sharedTrk_t, pcuStatus) == 8, "pcuStatus");
static_assert(offsetof(sharedTrk_t, trkState) == 80, "trkState");

// The lock word is used with GCC's __atomic builtins across processes.
static_assert(sizeof(int32_t) == 4 && alignof(trkState_t) >= 4, "lock word alignment");
static_assert(__atomic_always_lock_free(sizeof(int32_t), 0), "lock word must be lock-free");

}  // namespace pcudata
