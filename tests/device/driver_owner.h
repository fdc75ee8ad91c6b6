// DriverOwner: makes the driver object exist as the host's loading would
// (the class registered, its one object created) and gives it a stand-in
// host connection and memory manager, so that a test can read the error
// state that the reader engine records and observe the events it sends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Tarvel60x;

class DriverOwner {
public:
    struct Error {
        long code = 0;
        std::wstring text;
    };
    struct Event {
        std::wstring source;
        std::wstring message;
        std::wstring data;
        std::chrono::steady_clock::time_point time;  // when the host received it
    };

    DriverOwner();
    // Takes the stand-ins away from the driver object again.
    ~DriverOwner();
    DriverOwner(const DriverOwner&) = delete;
    DriverOwner& operator=(const DriverOwner&) = delete;

    Tarvel60x* driver() const { return m_driver; }

    // The driver's error state as GetLastError hands it to the host (which
    // also clears it).
    Error takeError();
    void setError(long code, const std::wstring& text);

    // Events the host accepted, in order.
    std::vector<Event> events() const;
    // Every offer, accepted or refused, as its data text.
    std::vector<std::wstring> offers() const;
    // The host's event buffer is full for the next `count` offers.
    void refuseNext(int count);
    // Waits until `count` events were accepted; false on time-out.
    bool waitForEvents(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    struct Host;
    std::unique_ptr<Host> m_host;
    Tarvel60x* m_driver = nullptr;
};
