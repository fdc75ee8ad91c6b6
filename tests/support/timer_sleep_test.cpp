// Timer fractions and sleepMilliseconds' full duration under signals.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>

#include <chrono>
#include <cmath>

#include "support/sleep.h"
#include "support/timer.h"

namespace {

TEST(TimerTest, ElapsedIsFractionalSeconds) {
    Timer timer;
    timer.restart();
    const double atOnce = timer.elapsed();
    EXPECT_GE(atOnce, 0.0);
    EXPECT_LT(atOnce, 0.1);

    sleepMilliseconds(250);
    const double later = timer.elapsed();
    EXPECT_GE(later, 0.249);
    EXPECT_LT(later, 30.0);
    EXPECT_NE(later, std::floor(later)) << "whole seconds only";

    timer.restart();
    EXPECT_LT(timer.elapsed(), later);
}

void onAlarm(int) {}

TEST(SleepTest, SignalsDoNotShortenTheSleep) {
    // A handler without SA_RESTART interrupts the system's sleep every 20 ms.
    struct sigaction action {};
    action.sa_handler = &onAlarm;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &action, nullptr), 0);
    itimerval every20ms{{0, 20000}, {0, 20000}};
    ASSERT_EQ(setitimer(ITIMER_REAL, &every20ms, nullptr), 0);

    const auto start = std::chrono::steady_clock::now();
    sleepMilliseconds(300);
    const auto slept = std::chrono::steady_clock::now() - start;

    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    EXPECT_GE(slept, std::chrono::milliseconds(300));
}

}  // namespace
