// Mutex: a plain non-recursive lock over the platform's native mutex, and
// MutexLock, the scoped form every caller uses.
#pragma once

#include <cstddef>

class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();

private:
    // Storage for the native mutex of the platform form (pthread_mutex_t or
    // CRITICAL_SECTION); each platform file checks that it fits.
    static constexpr std::size_t kNativeSize = 64;
    alignas(void*) unsigned char m_native[kNativeSize];
};

// Holds a Mutex for the lifetime of the scope.
class MutexLock {
public:
    explicit MutexLock(Mutex& mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~MutexLock() { m_mutex.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& m_mutex;
};
