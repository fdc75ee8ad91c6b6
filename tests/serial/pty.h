// A pseudo-terminal pair for serial port tests: the port opens the slave
// device by its path, the test plays the far end on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            const char* name = ptsname(master_);
            if (name != nullptr) slave_ = name;
        }
    }
    ~PseudoTerminal() { hangUp(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slavePath() const { return slave_; }

    void send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t put = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (put <= 0) return;
            done += static_cast<std::size_t>(put);
        }
    }

    // What the port wrote, collected until nothing more comes for quietMs.
    std::string receive(int quietMs = 300) {
        std::string got;
        pollfd entry{master_, POLLIN, 0};
        while (poll(&entry, 1, quietMs) > 0) {
            char chunk[4096];
            ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0) break;
            got.append(chunk, static_cast<std::size_t>(n));
        }
        return got;
    }

    // Closing the master makes the slave behave like an unplugged device.
    void hangUp() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slave_;
};

// Wall time in milliseconds since construction, and the CPU time the calling
// thread spent in the same interval.
class Elapsed {
public:
    Elapsed() : wall_(std::chrono::steady_clock::now()), cpu_(threadCpuMs()) {}
    double wallMs() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall_).count();
    }
    double cpuMs() const { return threadCpuMs() - cpu_; }

private:
    static double threadCpuMs() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    }
    std::chrono::steady_clock::time_point wall_;
    double cpu_;
};
