// POSIX form of Timer: the wall clock in whole seconds and microseconds.
#include "support/timer.h"

#include <sys/time.h>

namespace {
void readWallClock(std::int64_t& seconds, std::int64_t& microseconds) {
    timeval now{};
    gettimeofday(&now, nullptr);
    seconds = now.tv_sec;
    microseconds = now.tv_usec;
}
}  // namespace

void Timer::restart() {
    readWallClock(m_start.seconds, m_start.microseconds);
}

double Timer::elapsed() const {
    WallTime now;
    readWallClock(now.seconds, now.microseconds);
    return static_cast<double>(now.seconds - m_start.seconds) +
           static_cast<double>(now.microseconds - m_start.microseconds) / 1000000.0;
}
