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

    // Starts a thread running function(argument). If the thread cannot be
    // created, the object is simply not joinable.
    Thread(Function function, void* argument);
    // Ends the process if the thread is still joinable: join or detach first.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False as soon as the function has returned, after detach, or when the
    // thread could not be created.
    bool joinable() const;
    // Returns once the function has returned.
    void join();
    // A detached thread still marks this object when its function returns,
    // so the object must outlive the function.
    void detach();
    // The thread's number while joinable, otherwise 0.
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
    // True while the native thread still has to be joined or detached to
    // give back its resources (also after its function has returned).
    bool m_needsReclaim = false;
};

namespace ThisThread {
Thread::Id getId();
}

// Number of a native thread handle in the process-wide numbering (given on
// first request, never removed).
Thread::Id threadNumberOf(std::uintptr_t nativeHandle);
