#include "pumpTable.h"

#include <sys/ipc.h>
#include <sys/shm.h>

namespace soak {

namespace {

int segmentId(const std::string& keyFile)
{
    const key_t key = ::ftok(keyFile.c_str(), pcudata::SHM_PROJECT_ID);
    return key == -1 ? -1 : ::shmget(key, 0, 0);
}

}  // namespace

pumpTable::pumpTable(std::string file) : keyFile(std::move(file)) {}

pumpTable::~pumpTable()
{
    if (shm != nullptr) ::shmdt(shm);
}

bool pumpTable::attach()
{
    if (shm != nullptr) return true;
    const int id = segmentId(keyFile);
    if (id < 0) return false;
    void* at = ::shmat(id, nullptr, SHM_RDONLY);
    if (at == reinterpret_cast<void*>(-1)) return false;
    shm = static_cast<const pcudata::sharedTrk_t*>(at);
    return true;
}

bool pumpTable::tagOf(int n, std::string& orderId, bool& tagged)
{
    if (!attach() || n < 1 || n > pcudata::TRK_COUNT) return false;
    const pcudata::trkState_t& rec = shm->trkState[n - 1];
    char copy[pcudata::TRK_TEXT_SIZE];
    pcudata::peekText(copy, rec.orderId);
    orderId = copy;
    tagged = pcudata::peek(rec.tagged) != 0;
    return true;
}

void pumpTable::remove()
{
    if (shm != nullptr) ::shmdt(shm);
    shm = nullptr;
    const int id = segmentId(keyFile);
    if (id >= 0) ::shmctl(id, IPC_RMID, nullptr);
}

}  // namespace soak
