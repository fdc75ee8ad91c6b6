// POSIX form of Mutex: a pthread mutex with default attributes kept in the
// class's opaque storage.
#include "support/mutex.h"

#include <pthread.h>

namespace {
pthread_mutex_t* native(unsigned char* storage) {
    return reinterpret_cast<pthread_mutex_t*>(storage);
}
}  // namespace

Mutex::Mutex() {
    static_assert(sizeof(pthread_mutex_t) <= kNativeSize, "pthread_mutex_t does not fit the Mutex storage");
    static_assert(alignof(pthread_mutex_t) <= alignof(void*), "pthread_mutex_t needs a stricter alignment");
    pthread_mutex_init(native(m_native), nullptr);
}

Mutex::~Mutex() {
    pthread_mutex_destroy(native(m_native));
}

void Mutex::lock() {
    pthread_mutex_lock(native(m_native));
}

void Mutex::unlock() {
    pthread_mutex_unlock(native(m_native));
}
