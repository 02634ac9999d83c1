// The queue that carries log lines from the request threads to the writer: every line arrives once,
// in the order it was queued (within a thread and across threads), also while the writer collects
// at the same time; a full queue drops and counts; ended threads leave nothing behind.
#include "lineQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using azs_apps::weblog::lineQueue;

void pushLine(lineQueue& q, const std::string& text)
{
    q.push([&text](std::string& out) { out += text + "\n"; });
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Collects as the service's writer does, on its own thread, until stopped; then once more.
class collector {
public:
    explicit collector(lineQueue& q) : q(q), thread([this] { run(); }) {}
    ~collector() { finish(); }
    std::string finish()
    {
        if (thread.joinable()) {
            stop = true;
            thread.join();
            round();
        }
        return all;
    }

private:
    lineQueue& q;
    std::atomic<bool> stop{false};
    std::string all;
    std::thread thread;

    void round()
    {
        size_t before = all.size();
        q.collect(all);
        q.release(all.size() - before);
    }
    void run()
    {
        while (!stop) {
            round();
            std::this_thread::yield();
        }
    }
};

TEST(LineQueue, EveryThreadsLinesArriveOnceAndInOrderWhileTheWriterCollects)
{
    constexpr int THREADS = 16;
    constexpr int LINES = 3000;
    lineQueue q(64 * 1024 * 1024);
    collector writer(q);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&q, t] {
            for (int i = 0; i < LINES; ++i) pushLine(q, std::to_string(t) + " " + std::to_string(i));
        });
    for (std::thread& t : threads) t.join();
    const std::string text = writer.finish();

    std::map<int, int> next;  // thread -> the line expected next
    size_t count = 0;
    for (const std::string& line : linesOf(text)) {
        std::istringstream in(line);
        int t = -1, i = -1;
        in >> t >> i;
        ASSERT_EQ(i, next[t]) << "thread " << t;
        ++next[t];
        ++count;
    }
    EXPECT_EQ(count, static_cast<size_t>(THREADS * LINES));
    EXPECT_EQ(q.takeDropped(), 0u);
}

// A line logged in answer to another thread's line comes after it in the file, even when the two
// land in different rounds of the writer.
TEST(LineQueue, ALineCausedByAnotherThreadsLineComesAfterIt)
{
    constexpr int ROUNDS = 10000;
    lineQueue q(64 * 1024 * 1024);
    collector writer(q);
    std::atomic<int> turn{0};
    auto player = [&](int me) {
        for (int i = 0; i < ROUNDS; ++i) {
            while (turn.load() != 2 * i + me) std::this_thread::yield();
            pushLine(q, (me == 0 ? "ping " : "pong ") + std::to_string(i));
            turn.store(2 * i + me + 1);
        }
    };
    std::thread a(player, 0), b(player, 1);
    a.join();
    b.join();
    const std::vector<std::string> lines = linesOf(writer.finish());

    ASSERT_EQ(lines.size(), static_cast<size_t>(2 * ROUNDS));
    for (int i = 0; i < ROUNDS; ++i) {
        ASSERT_EQ(lines[2 * i], "ping " + std::to_string(i));
        ASSERT_EQ(lines[2 * i + 1], "pong " + std::to_string(i));
    }
}

// What drain relies on: once collect returns a count, every line numbered below it is out,
// including those of threads that have ended since; and ended threads' buffers are let go.
TEST(LineQueue, CollectHandsOutEveryLineQueuedBeforeItAlsoOfEndedThreads)
{
    lineQueue q(1024 * 1024);
    for (int t = 0; t < 8; ++t) std::thread([&q, t] { pushLine(q, "ended " + std::to_string(t)); }).join();
    pushLine(q, "main");
    const uint64_t queued = q.queued();

    std::string out;
    EXPECT_EQ(q.collect(out), queued);
    EXPECT_EQ(linesOf(out).size(), 9u);
    EXPECT_EQ(linesOf(out).back(), "main");
    q.release(out.size());

    // Nothing is handed out twice; a thread that comes later is served as well.
    out.clear();
    q.collect(out);
    std::thread([&q] { pushLine(q, "later"); }).join();
    q.collect(out);
    EXPECT_EQ(out, "later\n");
}

TEST(LineQueue, AFullQueueDropsAndCountsUntilTheWriterReleases)
{
    const std::string line(99, 'x');  // 100 bytes with its line feed
    int backlogCalls = 0;
    lineQueue q(1000, [&backlogCalls] { ++backlogCalls; });

    int kept = 0;
    for (int i = 0; i < 15; ++i) kept += q.push([&line](std::string& out) { out += line + "\n"; });
    EXPECT_EQ(kept, 10);
    EXPECT_EQ(backlogCalls, 1);  // the line that filled half of it
    EXPECT_EQ(q.takeDropped(), 5u);
    EXPECT_EQ(q.takeDropped(), 0u);

    // Handed out but not yet written: still counted against the limit.
    std::string out;
    q.collect(out);
    EXPECT_EQ(out.size(), 1000u);
    EXPECT_FALSE(q.push([](std::string& o) { o += "x\n"; }));
    q.release(out.size());
    EXPECT_TRUE(q.push([](std::string& o) { o += "x\n"; }));
    out.clear();
    q.collect(out);
    EXPECT_EQ(out, "x\n");  // a dropped line leaves no bytes behind
}

// A line whose formatting fails (out of memory) leaves nothing in front of the next one.
TEST(LineQueue, AFailedLineLeavesNoPartBehind)
{
    lineQueue q(1024);
    EXPECT_THROW(q.push([](std::string& out) {
        out += "half";
        throw std::bad_alloc();
    }),
                 std::bad_alloc);
    pushLine(q, "whole");
    std::string out;
    q.collect(out);
    EXPECT_EQ(out, "whole\n");
}

// A thread may log into more than one queue (tests make their own); each keeps its lines.
TEST(LineQueue, AThreadMovingBetweenQueuesLosesNothing)
{
    lineQueue a(1024 * 1024), b(1024 * 1024);
    for (int i = 0; i < 3; ++i) {
        pushLine(a, "a" + std::to_string(i));
        pushLine(b, "b" + std::to_string(i));
    }
    std::string outA, outB;
    a.collect(outA);
    b.collect(outB);
    EXPECT_EQ(outA, "a0\na1\na2\n");
    EXPECT_EQ(outB, "b0\nb1\nb2\n");
}

}  // namespace
