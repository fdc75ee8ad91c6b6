// POSIX form of sleepMilliseconds: nanosleep, resumed with the remaining
// time when a signal interrupts it, so the full time always passes.
#include "support/sleep.h"

#include <cerrno>
#include <ctime>

void sleepMilliseconds(unsigned milliseconds) {
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
