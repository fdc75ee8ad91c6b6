// POSIX form of Thread and of the process-wide thread numbering: pthreads
// with default attributes.
#include "support/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <exception>
#include <map>
#include <new>

namespace {

// Native handle -> number. Entries are never removed, so a native thread
// keeps its number for the life of the process. Created on first use (the
// language makes that thread-safe) and never destroyed, so that threads still
// running while the process exits can ask for numbers.
struct ThreadNumbering {
    Mutex lock;
    std::map<std::uintptr_t, std::uint64_t> numbers;
    std::uint64_t next = 1;
};

ThreadNumbering& numbering() {
    static ThreadNumbering* const instance = new ThreadNumbering;
    return *instance;
}

// Runs the thread's function; an exception escaping it ends the process.
void runFunction(Thread::Function function, void* argument) noexcept {
    function(argument);
}

}  // namespace

Thread::Id threadNumberOf(std::uintptr_t nativeHandle) {
    ThreadNumbering& table = numbering();
    MutexLock lock(table.lock);
    auto found = table.numbers.find(nativeHandle);
    if (found == table.numbers.end())
        found = table.numbers.emplace(nativeHandle, table.next++).first;
    return Thread::Id(found->second);
}

namespace ThisThread {
Thread::Id getId() {
    return threadNumberOf(static_cast<std::uintptr_t>(pthread_self()));
}
}  // namespace ThisThread

Thread::Thread(Function function, void* argument) {
    // Held until the bookkeeping below is done: the new thread may finish its
    // function at once, but marks itself finished only under this lock.
    MutexLock lock(m_stateLock);
    ThreadStartRecord* record = new (std::nothrow) ThreadStartRecord{function, argument, this};
    m_notJoinable = false;
    pthread_t handle{};
    if (record == nullptr || pthread_create(&handle, nullptr, &Thread::WrapperFunction, record) != 0) {
        m_nativeHandle = 0;
        m_notJoinable = true;
        delete record;
        return;
    }
    m_nativeHandle = static_cast<std::uintptr_t>(handle);
    m_needsReclaim = true;
}

void* Thread::WrapperFunction(void* argument) {
    ThreadStartRecord* record = static_cast<ThreadStartRecord*>(argument);
    runFunction(record->function, record->argument);
    Thread* owner = record->owner;
    {
        MutexLock lock(owner->m_stateLock);
        owner->m_notJoinable = true;
        delete record;
    }
    return nullptr;
}

bool Thread::joinable() const {
    MutexLock lock(m_stateLock);
    return !m_notJoinable;
}

void Thread::join() {
    // Also a thread whose function has already returned is joined here: it
    // has nothing left to do but end, so the wait is short, and its native
    // resources are given back.
    bool reclaim = false;
    {
        MutexLock lock(m_stateLock);
        reclaim = m_needsReclaim;
        m_needsReclaim = false;
    }
    if (reclaim)
        pthread_join(static_cast<pthread_t>(m_nativeHandle), nullptr);
}

void Thread::detach() {
    MutexLock lock(m_stateLock);
    if (!m_notJoinable) {
        m_notJoinable = true;
    } else if (!m_needsReclaim) {
        return;
    }
    // A finished thread that was never joined is detached too, so that its
    // native resources are given back when it ends.
    m_needsReclaim = false;
    pthread_detach(static_cast<pthread_t>(m_nativeHandle));
}

Thread::Id Thread::getId() const {
    if (!joinable())
        return Id(0);
    return threadNumberOf(m_nativeHandle);
}

Thread::~Thread() {
    if (joinable())
        std::terminate();
    // The function has returned (or the thread was detached or never
    // created); reclaim a finished thread that nobody joined.
    join();
}

unsigned Thread::HardwareConcurrency() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 0u;
}
