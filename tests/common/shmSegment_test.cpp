#include "shmSegment.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "libLogCapture.h"
#include "testSupport.h"
#include "timeSource.h"

using namespace pcudata;

namespace {

// Each test owns a key file of its own and removes the segment made from it, so that tests never
// meet each other's segments or a segment left by an earlier run.
class ShmSegmentTest : public ::testing::Test {
protected:
    std::string keyPath;
    shmSegment seg;

    void SetUp() override
    {
        char name[] = "/tmp/trkstat_test_XXXXXX";
        int fd = ::mkstemp(name);
        ASSERT_GE(fd, 0);
        ::close(fd);
        keyPath = name;
        removeSegment();
        seg.setIpcPath(keyPath);
    }

    void TearDown() override
    {
        seg.shmStop();
        removeSegment();
        ::unlink(keyPath.c_str());
    }

    void removeSegment() { testsupport::removeSegment(keyPath); }

    // Runs shmInit and returns the lines it logged, all at error level.
    std::string initCapturingLog(shmSegment& s, int32_t& rc)
    {
        testsupport::libLogCapture log;
        rc = s.shmInit();
        for (const auto& l : log.lines()) EXPECT_EQ(l.level, libLog::error) << l.text;
        return log.text();
    }
};

}  // namespace

TEST_F(ShmSegmentTest, FreshSegmentReadsAsUnpublished)
{
    ASSERT_EQ(seg.shmInit(), 0);
    ASSERT_TRUE(seg.isAttached());
    EXPECT_NE(seg.ipcKey, -1);
    struct shmid_ds ds;
    ASSERT_EQ(::shmctl(seg.shmId, IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.shm_segsz, SHM_SEGMENT_SIZE);
    EXPECT_EQ(ds.shm_perm.mode & 0777, 0666u);
    EXPECT_EQ(seg.getPcuDrvVer(), -1);
    EXPECT_EQ(seg.getPcuStatus()->dataTime, 0);
    for (int n = 1; n <= TRK_COUNT; ++n) {
        const trkState_t* s = seg.getTrkState(n);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->trk, 0);
        EXPECT_EQ(s->status, -1);
        EXPECT_EQ(s->tagged, 0);
        EXPECT_EQ(s->volume, -1);
        EXPECT_EQ(s->lock, 0);
    }
}

TEST_F(ShmSegmentTest, PumpAddressing)
{
    EXPECT_EQ(seg.getTrkState(1), nullptr);
    EXPECT_EQ(seg.lastError, 14);
    EXPECT_EQ(seg.getPcuStatus(), nullptr);
    seg.lastError = 0;
    EXPECT_EQ(seg.getPcuDrvVer(), -1);
    EXPECT_EQ(seg.lastError, 14);

    ASSERT_EQ(seg.shmInit(), 0);
    EXPECT_EQ(seg.getTrkState(0), nullptr);
    EXPECT_EQ(seg.lastError, 22);
    seg.lastError = 0;
    EXPECT_EQ(seg.getTrkState(33), nullptr);
    EXPECT_EQ(seg.lastError, 22);
    trkState_t* last = seg.getTrkState(32);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(reinterpret_cast<char*>(last) - reinterpret_cast<char*>(seg.shm), 35048);
}

TEST_F(ShmSegmentTest, SecondProgramAttachesWithoutInitialising)
{
    ASSERT_EQ(seg.shmInit(), 0);
    trkState_t* rec = seg.getTrkState(5);
    rec->tagged = 1;
    std::strcpy(rec->orderId, "A-100");
    seg.shm->pcuStatus.drvVersion = 42;

    shmSegment other;
    other.setIpcPath(keyPath);
    ASSERT_EQ(other.shmInit(), 0);
    EXPECT_NE(other.shm, seg.shm);
    EXPECT_EQ(other.shmId, seg.shmId);
    EXPECT_EQ(other.getTrkState(5)->tagged, 1);
    EXPECT_STREQ(other.getTrkState(5)->orderId, "A-100");
    EXPECT_EQ(other.getPcuDrvVer(), 42);

    // A restart of the first program finds the table as it was.
    seg.shmStop();
    EXPECT_FALSE(seg.isAttached());
    ASSERT_EQ(seg.shmInit(), 0);
    EXPECT_STREQ(seg.getTrkState(5)->orderId, "A-100");
    other.shmStop();
}

TEST_F(ShmSegmentTest, RepeatedInitKeepsTheAttachment)
{
    ASSERT_EQ(seg.shmInit(), 0);
    sharedTrk_t* first = seg.shm;
    seg.getTrkState(1)->status = 3;
    ASSERT_EQ(seg.shmInit(), 0);
    EXPECT_EQ(seg.shm, first);
    EXPECT_EQ(seg.getTrkState(1)->status, 3);
}

TEST_F(ShmSegmentTest, StopZeroesDataTimeOnlyWhenAsked)
{
    shmSegment reader;
    reader.setIpcPath(keyPath);
    ASSERT_EQ(seg.shmInit(), 0);
    ASSERT_EQ(reader.shmInit(), 0);
    seg.shm->pcuStatus.dataTime = 1700000000;
    seg.shmStop();
    EXPECT_EQ(reader.getPcuStatus()->dataTime, 1700000000);
    ASSERT_EQ(seg.shmInit(), 0);
    seg.shmStop(true);
    EXPECT_EQ(seg.shm, nullptr);
    EXPECT_EQ(reader.getPcuStatus()->dataTime, 0);
    reader.shmStop();
}

TEST_F(ShmSegmentTest, MissingKeyFileIsCreatedOpenToAll)
{
    ::unlink(keyPath.c_str());
    mode_t previous = ::umask(077);
    int32_t rc = seg.shmInit();
    ::umask(previous);
    ASSERT_EQ(rc, 0);
    struct stat st;
    ASSERT_EQ(::stat(keyPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(ShmSegmentTest, EmptyPathFailsWithItsMessage)
{
    seg.setIpcPath("");
    int32_t rc = 0;
    std::string err = initCapturingLog(seg, rc);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(seg.lastError, 22);
    EXPECT_EQ(err, "Не определен путь для выделения разделяемого сегмента\n");
    EXPECT_FALSE(seg.isAttached());
}

TEST_F(ShmSegmentTest, UncreatableKeyFileFailsAndALaterCallRetries)
{
    seg.setIpcPath("/nonexistent-dir-of-fuelgate/trkstat.mem");
    int32_t rc = 0;
    std::string err = initCapturingLog(seg, rc);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(seg.lastError, 13);
    EXPECT_EQ(err,
              "Не удалось создать файл для выделения разделяемого сегмента: "
              "/nonexistent-dir-of-fuelgate/trkstat.mem: ENOENT (No such file or directory)\n");
    EXPECT_FALSE(seg.isAttached());
    EXPECT_EQ(seg.ipcKey, -1);

    seg.setIpcPath(keyPath);
    EXPECT_EQ(seg.shmInit(), 0);
    EXPECT_TRUE(seg.isAttached());
}

TEST_F(ShmSegmentTest, ExistingSegmentOfAnotherSizeIsReported)
{
    key_t key = ::ftok(keyPath.c_str(), 'M');
    ASSERT_NE(key, -1);
    ASSERT_GE(::shmget(key, 100, IPC_CREAT | IPC_EXCL | 0666), 0);
    int32_t rc = 0;
    std::string err = initCapturingLog(seg, rc);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(seg.lastError, EINVAL);
    EXPECT_EQ(err, "Ошибка получения адреса сегмента разделяемой памяти (22): EINVAL (Invalid argument)\n");
    EXPECT_FALSE(seg.isAttached());
}

namespace {

class TrkLockTest : public ShmSegmentTest {
protected:
    trkState_t* rec = nullptr;

    void SetUp() override
    {
        ShmSegmentTest::SetUp();
        ASSERT_EQ(seg.shmInit(), 0);
        rec = seg.getTrkState(7);
    }
};

// Adds up the nominal pauses that a wait asks for, so a counted wait can be measured exactly
// while the test still runs at the scaled speed.
class countingTimeSource : public scaledTimeSource {
public:
    explicit countingTimeSource(double factor) : scaledTimeSource(factor) {}
    void sleepUs(int64_t us) override
    {
        sleptUs += us;
        scaledTimeSource::sleepUs(us);
    }
    int64_t sleptUs = 0;
};

// Shared by the two processes of the lock race (an anonymous shared mapping made before fork):
// the start barrier, the overlap detector and the child's count of rounds.
struct raceBoard {
    int32_t ready[2];
    int32_t inside;    // hammers inside the critical section right now
    int32_t overlaps;  // entries that found the other hammer already inside
    int64_t childRounds;
};

raceBoard* newRaceBoard()
{
    void* p = ::mmap(nullptr, sizeof(raceBoard), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    return new (p) raceBoard{};
}

// Puts the calling process on the k-th processor it may use, so that the two sides of the lock race
// really run at the same time: left to the scheduler on a busy machine, both often share one
// processor and only take turns, which hides a lock that is not taken in a single step. Does
// nothing when fewer than two processors are available.
void pinToProcessor(const cpu_set_t& allowed, int k)
{
    if (CPU_COUNT(&allowed) < 2) return;
    for (int cpu = 0, seen = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed) || seen++ != k) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        ::sched_setaffinity(0, sizeof one, &one);
        return;
    }
}

// Marks this side ready and waits for the other one, so that both loops start at the same moment
// instead of one finishing before the other has been scheduled. False when the other never came.
bool meetAtStart(raceBoard* board, int me)
{
    __atomic_store_n(&board->ready[me], 1, __ATOMIC_SEQ_CST);
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (__atomic_load_n(&board->ready[1 - me], __ATOMIC_SEQ_CST) == 0) {
        if (std::chrono::steady_clock::now() >= giveUp) return false;
    }
    return true;
}

// Takes and releases the lock of rec for about `ms` milliseconds, incrementing a field of the
// record under it each time, and counts the rounds. Besides lost increments, a second holder is
// caught directly: each entry notes whether the other side was already inside. False when a lock
// was not obtained.
bool hammer(shmSegment& s, trkState_t* rec, raceBoard* board, int ms, int64_t& rounds)
{
    // Poll without pausing: the test is about exclusion, and pauses would only slow it down.
    const lockWait spin{0, -1, 1 << 30, true};
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    rounds = 0;
    while ((rounds & 255) != 0 || std::chrono::steady_clock::now() < end) {
        if (!s.lockTrkPtr(rec, spin)) return false;
        if (__atomic_fetch_add(&board->inside, 1, __ATOMIC_SEQ_CST) != 0)
            __atomic_fetch_add(&board->overlaps, 1, __ATOMIC_SEQ_CST);
        rec->volume = rec->volume + 1;
        __atomic_fetch_sub(&board->inside, 1, __ATOMIC_SEQ_CST);
        shmSegment::unlockTrkPtr(rec);
        ++rounds;
    }
    return true;
}

}  // namespace

TEST_F(TrkLockTest, LockAndUnlockTheWord)
{
    EXPECT_FALSE(shmSegment::isLockedTrk(rec));
    EXPECT_FALSE(shmSegment::isLockedTrk(nullptr));
    seg.lastError = 16;
    ASSERT_TRUE(seg.lockTrkPtr(rec, lockWait::web()));
    EXPECT_EQ(rec->lock, 4);
    EXPECT_EQ(seg.lastError, 0);
    EXPECT_TRUE(shmSegment::isLockedTrk(rec));
    shmSegment::unlockTrkPtr(rec);
    EXPECT_EQ(rec->lock, 0);

    EXPECT_EQ(seg.lockTrkState(7, lockWait::daemonTrk()), rec);
    seg.unlockTrkState(7);
    EXPECT_EQ(rec->lock, 0);
    EXPECT_FALSE(seg.lockTrkPtr(nullptr, lockWait::daemonPtr()));
}

TEST_F(TrkLockTest, DaemonRecordLockKeepsTheErrorNumberOnSuccess)
{
    seg.lastError = 22;
    ASSERT_TRUE(seg.lockTrkPtr(rec, lockWait::daemonPtr()));
    EXPECT_EQ(seg.lastError, 22);
    shmSegment::unlockTrkPtr(rec);
}

TEST_F(TrkLockTest, UnlockLeavesForeignValuesAlone)
{
    rec->lock = 7;
    shmSegment::unlockTrkPtr(rec);
    EXPECT_EQ(rec->lock, 7);
    rec->lock = 0;
    shmSegment::unlockTrkPtr(rec);
    EXPECT_EQ(rec->lock, 0);
    shmSegment::unlockTrkPtr(nullptr);
    // Any non-zero word counts as held.
    rec->lock = 1;
    EXPECT_TRUE(shmSegment::isLockedTrk(rec));
}

TEST_F(TrkLockTest, ByNumberLockReportsAddressingErrors)
{
    EXPECT_EQ(seg.lockTrkState(0, lockWait::web()), nullptr);
    EXPECT_EQ(seg.lastError, 22);
    EXPECT_EQ(seg.lockTrkState(33, lockWait::daemonTrk()), nullptr);
    EXPECT_EQ(seg.lastError, 22);
    seg.shmStop();
    EXPECT_EQ(seg.lockTrkState(1, lockWait::web()), nullptr);
    EXPECT_EQ(seg.lastError, 14);
}

// The waits are measured on a clock that only the wait's own pauses move, so they come out the
// same on a machine slowed down by other builds or by a sanitizer.
TEST_F(TrkLockTest, WebWaitGivesUpBetweenTwoAndThreeSeconds)
{
    for (int64_t intoSecond : {0, 300000, 999500}) {
        testsupport::manualClock clock;
        clock.us += intoSecond;
        timeSourceGuard guard(&clock);
        rec->lock = 4;
        const int64_t start = clock.nowUs();
        EXPECT_FALSE(seg.lockTrkPtr(rec, lockWait::web()));
        const int64_t waited = clock.nowUs() - start;
        EXPECT_EQ(seg.lastError, 16);
        EXPECT_EQ(rec->lock, 4);
        EXPECT_GE(waited, 2000000) << intoSecond;
        EXPECT_LE(waited, 3000000) << intoSecond;
    }
    EXPECT_EQ(seg.lockTrkState(7, lockWait::web()), nullptr);
    EXPECT_EQ(seg.lastError, 16);
}

// The holder gives the lock back half a second into the waiter's wait.
class releasingClock : public testsupport::manualClock {
public:
    void sleepUs(int64_t d) override
    {
        manualClock::sleepUs(d);
        if (us >= releaseAtUs) shmSegment::unlockTrkPtr(held);
    }
    trkState_t* held = nullptr;
    int64_t releaseAtUs = 0;
};

TEST_F(TrkLockTest, WebWaitTakesTheLockOnceReleased)
{
    releasingClock clock;
    clock.held = rec;
    clock.releaseAtUs = clock.us + 500000;
    timeSourceGuard guard(&clock);
    rec->lock = 4;
    bool locked = seg.lockTrkPtr(rec, lockWait::web());
    EXPECT_TRUE(locked);
    EXPECT_EQ(seg.lastError, 0);
    EXPECT_EQ(rec->lock, 4);
    EXPECT_GE(clock.us, clock.releaseAtUs);
    EXPECT_LT(clock.us, clock.releaseAtUs + 1000) << "taken at the first look after the release";
}

TEST_F(TrkLockTest, DaemonWaitsGiveUpAfterOneSecondAndHalfASecond)
{
    countingTimeSource fast(1000.0);
    timeSourceGuard guard(&fast);
    rec->lock = 4;
    EXPECT_FALSE(seg.lockTrkPtr(rec, lockWait::daemonPtr()));
    EXPECT_EQ(seg.lastError, 16);
    EXPECT_EQ(fast.sleptUs, 1000000);

    fast.sleptUs = 0;
    seg.lastError = 0;
    EXPECT_EQ(seg.lockTrkState(7, lockWait::daemonTrk()), nullptr);
    EXPECT_EQ(seg.lastError, 16);
    EXPECT_EQ(fast.sleptUs, 500000);
    EXPECT_EQ(rec->lock, 4);
}

// Two processes, as the daemon and the web service are, increment one field under the lock.
// Without a single atomic take of the word, both would sometimes hold it at once.
TEST_F(TrkLockTest, TwoProcessesNeverHoldTheLockTogether)
{
    const int runMs = 400;
    raceBoard* board = newRaceBoard();
    ASSERT_NE(board, nullptr);
    rec->volume = 0;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        shmSegment other;
        other.setIpcPath(keyPath);
        if (other.shmInit() != 0) ::_exit(2);
        pinToProcessor(allowed, 1);
        if (!meetAtStart(board, 1)) ::_exit(4);
        int64_t rounds = 0;
        bool ok = hammer(other, other.getTrkState(7), board, runMs, rounds);
        board->childRounds = rounds;
        ::_exit(ok ? 0 : 3);
    }
    pinToProcessor(allowed, 0);
    bool met = meetAtStart(board, 0);
    int64_t rounds = 0;
    bool allLocked = met && hammer(seg, rec, board, runMs, rounds);
    ::sched_setaffinity(0, sizeof allowed, &allowed);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(met);
    EXPECT_TRUE(allLocked);
    EXPECT_EQ(board->overlaps, 0);
    EXPECT_EQ(rec->volume, rounds + board->childRounds);
    EXPECT_GT(board->childRounds, 0);
    EXPECT_EQ(rec->lock, 0);
    ::munmap(board, sizeof(raceBoard));
}
