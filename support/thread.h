// Thread: one worker thread running a plain function with one pointer
// argument; ThisThread::getId numbers native threads from 1 upwards.
#pragma once

#include <cstdint>

#include "support/mutex.h"

class Thread {
public:
    // Identifier of a thread in the process-wide numbering; 0 is no thread.
    class Id {
    public:
        Id() = default;
        explicit Id(std::uint64_t value) : m_value(value) {}
        std::uint64_t value() const { return m_value; }
        bool operator==(const Id& other) const { return m_value == other.m_value; }
        bool operator!=(const Id& other) const { return m_value != other.m_value; }

    private:
        std::uint64_t m_value = 0;
    };

    using Function = void (*)(void*);

    Thread(Function function, void* argument);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool joinable() const;
    void join();
    void detach();
    Id getId() const;

    static unsigned HardwareConcurrency();

private:
    struct ThreadStartRecord {
        Function function;
        void* argument;
        Thread* owner;
    };

    // The native start routine: runs the record's function, then marks the
    // owner not joinable under its lock and frees the record.
    static void* WrapperFunction(void* record);

    std::uintptr_t m_nativeHandle = 0;
    mutable Mutex m_stateLock;
    bool m_notJoinable = true;
};

namespace ThisThread {
Thread::Id getId();
}

// Number of a native thread handle in the process-wide numbering (given on
// first request, never removed).
Thread::Id threadNumberOf(std::uintptr_t nativeHandle);
