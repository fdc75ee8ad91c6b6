// Session latency: the time from a trigger press on the emulated reader to
// the tag package being filed and its event reaching the host, next to the
// time the worker's pauses and the exchange's read waits account for; and
// the CPU time an idle session costs per wall second. Prints figures only.
//
// Usage: t60_bench_session_latency [presses] [idle-seconds]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "device/device.h"
#include "emulated_reader.h"
#include "tests/device/driver_owner.h"

namespace {

using Clock = std::chrono::steady_clock;

// The timing rules of the engine on a serial link (milliseconds).
constexpr double kNextAnswerPause = 50;   // before every polling read
constexpr double kReadWait = 250;         // a read returns when its 250 ms are over (answers are < 256 bytes)
constexpr double kWorkerPause = 200;      // after every pass
constexpr double kPass = kNextAnswerPause + kReadWait + kWorkerPause;
// A press: the tag-data exchange (one read wait), the extra answer read
// after it (pause + read wait), the user-memory exchange (one read wait).
constexpr double kPressWork = kReadWait + (kNextAnswerPause + kReadWait) + kReadWait;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const int presses = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;

    DriverOwner owner;
    Emulator::EmulatedReader reader;
    if (!reader.start() || !reader.setTag({"3400", "E2000017220B0123456789AB", "E20034120123456789ABCDEF", "0A1B2C3D"})) {
        std::fprintf(stderr, "the emulated reader did not start\n");
        return 1;
    }
    Device device;
    device.setPort(reader.devicePath(), 5);
    device.setConnectionType(0);
    device.setID(1);
    if (!device.openPort() || !device.openSession()) {
        std::fprintf(stderr, "the session did not open\n");
        return 1;
    }

    std::printf("Timing model (serial link, reader answers at once):\n");
    std::printf("  worker pass P = pause %.0f + read wait %.0f + sleep %.0f = %.0f ms; a press is seen at the end\n",
                kNextAnswerPause, kReadWait, kWorkerPause, kPass);
    std::printf("  of the first polling read that ends after it arrives. The pass after an event starts %.0f ms\n",
                kWorkerPause);
    std::printf("  later, so its read ends at event + %.0f ms.\n", kPass);
    std::printf("  press work W = tag read %.0f + extra answer %.0f + user read %.0f = %.0f ms\n", kReadWait,
                kNextAnswerPause + kReadWait, kReadWait, kPressWork);
    std::printf("  press d ms after the previous event: latency = (P - d) + W for d < P\n\n");

    // The first press only sets the phase: the pass after its event is known.
    reader.press();
    if (!owner.waitForEvents(1, std::chrono::seconds(10))) {
        std::fprintf(stderr, "no event for the first press\n");
        return 1;
    }
    std::printf("%8s %10s %10s %10s %10s %8s\n", "d ms", "seen ms", "total ms", "model ms", "work ms", "diff %");
    double sumMeasured = 0, sumModel = 0, sumWork = 0, worst = 0;
    for (int i = 0; i < presses; ++i) {
        const double d = kPass * i / presses;  // spread over one pass
        const Clock::time_point lastEvent = owner.events().back().time;
        std::this_thread::sleep_until(lastEvent + std::chrono::microseconds(static_cast<long>(d * 1000)));
        const Clock::time_point pressed = Clock::now();
        reader.press();
        if (!owner.waitForEvents(static_cast<std::size_t>(i) + 2, std::chrono::seconds(10))) {
            std::fprintf(stderr, "no event for press %d\n", i + 2);
            return 1;
        }
        const Clock::time_point announced = owner.events().back().time;
        // When the worker saw the press: its tag-data command reached the reader.
        Clock::time_point seen = announced;
        for (const Emulator::ReceivedFrame& frame : reader.frames())
            if (frame.time >= pressed && frame.group() == 0x0B && frame.code() == 0x36) {
                seen = frame.time;
                break;
            }
        const double total = ms(announced - pressed);
        const double model = (kPass - d) + kPressWork;
        const double work = ms(announced - seen);
        const double diff = 100.0 * (total - model) / model;
        worst = std::max(worst, std::fabs(diff));
        sumMeasured += total;
        sumModel += model;
        sumWork += work;
        std::printf("%8.1f %10.1f %10.1f %10.1f %10.1f %+8.2f\n", d, ms(seen - pressed), total, model, work, diff);
        device.getPacket(std::to_string(i + 2));
    }
    std::printf("\nmean latency %.1f ms, model %.1f ms: %+.2f %%; worst single press %.2f %%\n", sumMeasured / presses,
                sumModel / presses, 100.0 * (sumMeasured - sumModel) / sumModel, worst);
    std::printf("mean press work (seen to event) %.1f ms, model %.0f ms: %+.2f %%\n", sumWork / presses, kPressWork,
                100.0 * (sumWork / presses - kPressWork) / kPressWork);

    // Idle: no presses for a while (a keep-alive goes out every 20 s).
    const double cpuBefore = cpuSeconds();
    const Clock::time_point idleStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const double wall = ms(Clock::now() - idleStart) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("\nidle session: %.3f s CPU in %.1f s wall = %.3f %% of one core "
                "(whole process, the emulated reader's thread included)\n",
                cpu, wall, 100.0 * cpu / wall);

    device.closeSession();
    device.closePort();
    return 0;
}
