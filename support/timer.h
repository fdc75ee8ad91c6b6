// Timer: a stopwatch in seconds on the wall clock.
#pragma once

#include <cstdint>

class Timer {
public:
    // Reads the clock; every user calls it before its first elapsed().
    void restart();
    // Seconds since the last restart(), fractional.
    double elapsed() const;

private:
    struct WallTime {
        std::int64_t seconds = 0;
        std::int64_t microseconds = 0;
    };
    WallTime m_start;
};
