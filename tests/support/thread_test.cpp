// Thread: the process-wide numbering, getId and joinable around the
// function's return, join and detach rules, and the ends of the process.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include "support/sleep.h"
#include "support/thread.h"

namespace {

// Holds a thread's function until the test opens it, and tells what the
// thread saw as its own number.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    bool entered = false;
    Thread::Id seenId;

    static void run(void* argument) {
        Gate& gate = *static_cast<Gate*>(argument);
        std::unique_lock<std::mutex> hold(gate.lock);
        gate.seenId = ThisThread::getId();
        gate.entered = true;
        gate.changed.notify_all();
        gate.changed.wait(hold, [&] { return gate.open; });
    }
    void waitEntered() {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return entered; });
    }
    void release() {
        std::lock_guard<std::mutex> hold(lock);
        open = true;
        changed.notify_all();
    }
};

// Waits (generously) until the thread's function has returned.
bool waitFinished(const Thread& thread) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (thread.joinable()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        sleepMilliseconds(5);
    }
    return true;
}

TEST(ThreadTest, NumbersGoToNativeThreadsInOrderOfFirstRequest) {
    EXPECT_EQ(ThisThread::getId(), Thread::Id(1));

    Gate gate;
    Thread worker(&Gate::run, &gate);
    gate.waitEntered();
    EXPECT_EQ(gate.seenId, Thread::Id(2));
    EXPECT_TRUE(worker.joinable());
    EXPECT_EQ(worker.getId(), Thread::Id(2));
    EXPECT_EQ(ThisThread::getId(), Thread::Id(1));

    gate.release();
    ASSERT_TRUE(waitFinished(worker));
    // The thread had a number while it ran; its object now has none.
    EXPECT_EQ(worker.getId(), Thread::Id(0));
    worker.join();
    EXPECT_EQ(worker.getId(), Thread::Id(0));
    EXPECT_EQ(ThisThread::getId(), Thread::Id(1));
}

TEST(ThreadTest, JoinWaitsOnlyForARunningFunction) {
    // A running function: join returns after it has returned.
    std::atomic<bool> done{false};
    Thread slow([](void* flag) {
        sleepMilliseconds(200);
        static_cast<std::atomic<bool>*>(flag)->store(true);
    }, &done);
    slow.join();
    EXPECT_TRUE(done.load());
    EXPECT_FALSE(slow.joinable());
    slow.join();  // a second join does nothing

    // A function that has already returned: join returns at once, and the
    // objects are destroyed without ending the process.
    Gate gate;
    gate.open = true;
    Thread quick(&Gate::run, &gate);
    ASSERT_TRUE(waitFinished(quick));
    const auto start = std::chrono::steady_clock::now();
    quick.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ThreadTest, DetachedThreadIsNotJoinable) {
    // A detached thread still marks its object when the function returns, so
    // the object (and the gate the function uses) are kept for the life of
    // the process.
    static Gate* const gate = new Gate;
    static Thread* const detached = new Thread(&Gate::run, gate);
    gate->waitEntered();
    detached->detach();
    EXPECT_FALSE(detached->joinable());
    EXPECT_EQ(detached->getId(), Thread::Id(0));
    detached->detach();
    detached->join();  // returns at once
    gate->release();
}

// The address-space limit that makes thread creation fail cannot be used
// under the sanitizers, which reserve large address ranges of their own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define T60_NO_ADDRESS_LIMIT 1
#endif

TEST(ThreadTest, FailedCreationLeavesAnInertObject) {
#ifdef T60_NO_ADDRESS_LIMIT
    GTEST_SKIP() << "address-space limit unusable under sanitizers";
#else
    // Limit the address space to what is mapped now, so that no new thread
    // stack can be mapped.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    std::ifstream statm("/proc/self/statm");
    unsigned long pages = 0;
    statm >> pages;
    ASSERT_GT(pages, 0u);
    rlimit tight = saved;
    tight.rlim_cur = pages * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) + (1u << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);

    bool ran = false;
    {
        Thread never([](void* flag) { *static_cast<bool*>(flag) = true; }, &ran);
        setrlimit(RLIMIT_AS, &saved);
        EXPECT_FALSE(never.joinable());
        EXPECT_EQ(never.getId(), Thread::Id(0));
        never.join();
        never.detach();
    }  // and destroying it does not end the process
    EXPECT_FALSE(ran);
#endif
}

using ThreadDeathTest = ::testing::Test;

TEST_F(ThreadDeathTest, DestroyingAJoinableThreadEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Gate gate;
            Thread running(&Gate::run, &gate);
            gate.waitEntered();
        },
        "");
}

TEST_F(ThreadDeathTest, ExceptionEscapingTheFunctionEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Thread throwing([](void*) { throw std::runtime_error("escaped"); }, nullptr);
            sleepMilliseconds(30000);
        },
        "");
}

}  // namespace
