#include "shmSegment.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>

#include "libLog.h"
#include "runner.h"
#include "timeSource.h"

namespace pcudata {

namespace {

// The lock word lives in memory shared with another process, so it is handled with the
// compiler's atomic builtins on the plain int32 rather than through a std::atomic object. A single
// compare-and-exchange makes "wait for 0, then store 4" one step: two takers can never both win.
bool tryLock(trkState_t* rec)
{
    int32_t expected = TRK_LOCK_FREE;
    return __atomic_compare_exchange_n(&rec->lock, &expected, TRK_LOCK_HELD, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST);
}

// "text (code): NAME (system text)": the number the caller gets, then the system's own reason.
std::string numbered(const char* text, int code, int sysErr)
{
    return std::string(text) + " (" + std::to_string(code) + "): " + errnoText(sysErr);
}

}  // namespace

std::string shmKeyFile(const std::string& dir)
{
    return dir + "/" + SHM_KEY_FILE_NAME;
}

int32_t shmSegment::fail(int32_t error, const std::string& message)
{
    lastError = error;
    libLog::write(libLog::error, message);
    return -1;
}

int32_t shmSegment::shmInit()
{
    // A second shmat would leave the first attachment behind for the life of the process.
    if (shm != nullptr) return 0;
    if (ipcPath.empty()) return fail(EINVAL, "Не определен путь для выделения разделяемого сегмента");
    // Callers know a key-file failure by its number 13; the line says what the system answered.
    if (!runner::FileExists(ipcPath) && !runner::touchFile(ipcPath, SHM_KEY_FILE_MODE)) {
        const int error = errno;
        return fail(EACCES, "Не удалось создать файл для выделения разделяемого сегмента: " + ipcPath + ": " +
                                errnoText(error));
    }
    const key_t key = ::ftok(ipcPath.c_str(), SHM_PROJECT_ID);
    if (key == -1) {
        const int error = errno;
        return fail(error, "Не удалось получить ключ разделяемого сегмента памяти: " + ipcPath + ": " +
                               errnoText(error));
    }

    bool creator = true;
    int id = ::shmget(key, SHM_SEGMENT_SIZE, IPC_CREAT | IPC_EXCL | SHM_KEY_FILE_MODE);
    if (id < 0) {
        int error = errno;
        if (error != EEXIST)
            return fail(error, numbered("Ошибка выделения сегмента разделяемой памяти", error, error));
        creator = false;
        id = ::shmget(key, SHM_SEGMENT_SIZE, SHM_KEY_FILE_MODE);
        if (id < 0) {
            error = errno;
            return fail(error, numbered("Ошибка получения адреса сегмента разделяемой памяти", error, error));
        }
    }
    void* addr = ::shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        const int error = errno;
        return fail(EFAULT, numbered("Ошибка подсоединения к сегменту разделяемой памяти", EFAULT, error));
    }

    ipcKey = static_cast<int32_t>(key);
    shmId = id;
    shm = static_cast<sharedTrk_t*>(addr);
    // Only the creator initialises: the contents must survive restarts of either program.
    if (creator) sharedTrk_init(*shm);
    return 0;
}

void shmSegment::shmStop(bool zeroDataTime)
{
    if (shm == nullptr) return;
    if (zeroDataTime) shm->pcuStatus.dataTime = 0;
    ::shmdt(shm);
    shm = nullptr;
}

trkState_t* shmSegment::getTrkState(int n)
{
    if (shm == nullptr) {
        lastError = EFAULT;
        return nullptr;
    }
    if (n < 1 || n > TRK_COUNT) {
        lastError = EINVAL;
        return nullptr;
    }
    return &shm->trkState[n - 1];
}

pcuStatus_t* shmSegment::getPcuStatus()
{
    if (shm == nullptr) {
        lastError = EFAULT;
        return nullptr;
    }
    return &shm->pcuStatus;
}

int32_t shmSegment::getPcuDrvVer()
{
    pcuStatus_t* status = getPcuStatus();
    return status == nullptr ? -1 : status->drvVersion;
}

bool shmSegment::isLockedTrk(const trkState_t* rec)
{
    return rec != nullptr && __atomic_load_n(&rec->lock, __ATOMIC_SEQ_CST) != TRK_LOCK_FREE;
}

bool shmSegment::lockTrkPtr(trkState_t* rec, const lockWait& wait)
{
    if (rec == nullptr) return false;
    bool locked = wait.timeoutSec >= 0 ? waitUntilDeadline(rec, wait) : waitCounted(rec, wait);
    if (locked && wait.clearErrorOnSuccess) lastError = 0;
    return locked;
}

// The deadline is taken in whole seconds, so the wait lasts between timeoutSec and timeoutSec + 1.
bool shmSegment::waitUntilDeadline(trkState_t* rec, const lockWait& wait)
{
    time_t deadline = timeSrc().now() + wait.timeoutSec + 1;
    for (;;) {
        if (tryLock(rec)) return true;
        lastError = EBUSY;
        if (timeSrc().now() >= deadline) return false;
        timeSrc().sleepUs(wait.pollUs);
    }
}

bool shmSegment::waitCounted(trkState_t* rec, const lockWait& wait)
{
    for (int32_t waits = 0;; ++waits) {
        if (tryLock(rec)) return true;
        if (waits >= wait.maxWaits) {
            lastError = EBUSY;
            return false;
        }
        timeSrc().sleepUs(wait.pollUs);
    }
}

trkState_t* shmSegment::lockTrkState(int n, const lockWait& wait)
{
    trkState_t* rec = getTrkState(n);
    if (rec == nullptr || !lockTrkPtr(rec, wait)) return nullptr;
    return rec;
}

void shmSegment::unlockTrkPtr(trkState_t* rec)
{
    if (rec == nullptr) return;
    int32_t expected = TRK_LOCK_HELD;
    __atomic_compare_exchange_n(&rec->lock, &expected, TRK_LOCK_FREE, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
}

void shmSegment::unlockTrkState(int n)
{
    unlockTrkPtr(getTrkState(n));
}

}  // namespace pcudata
