// Prints the processor time that 40 reads of 256 bytes cost on a silent
// pseudo-terminal (each waits its full 250 ms), against the wall time; then
// the same on a line whose far end has hung up, as after an unplugged reader.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "serial/serial_port.h"

namespace {

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void measure(const char* label, Serial::Port& port, int reads) {
    std::uint8_t buffer[256];
    std::size_t total = 0;
    const double cpu0 = processorSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    for (int i = 0; i < reads; ++i) total += port.read(buffer, sizeof buffer);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = processorSeconds() - cpu0;
    std::printf("%-10s %d reads of 256 bytes: %zu bytes, wall %.3f s, processor %.4f s (%.3f%% of wall)\n",
                label, reads, total, wall, cpu, wall > 0 ? 100.0 * cpu / wall : 0.0);
}

}  // namespace

int main() {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname(master) == nullptr) {
        std::perror("pseudo-terminal");
        return 1;
    }
    Serial::Timeout timeout;
    timeout.interByteTimeout = Serial::Timeout::maxTimeout();
    timeout.readTimeoutConstant = 250;
    timeout.writeTimeoutConstant = 250;
    Serial::Port port(ptsname(master), 115200, timeout, Serial::eightbits, Serial::parity_none,
                      Serial::stopbits_one, Serial::flowcontrol_none);
    if (!port.isOpen()) {
        std::fprintf(stderr, "open failed: %s\n", port.getLastErrorDescription().c_str());
        return 1;
    }
    measure("silent", port, 40);
    close(master);
    measure("hung up", port, 40);
    return 0;
}
