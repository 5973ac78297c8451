#include "support/RealtimeGuard.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace vornik::test {
namespace {

thread_local bool tCounting = false;
thread_local RealtimeCounts tCounts;

inline void noteAllocation() { tCounts.allocations += tCounting; }
inline void noteLock() { tCounts.locks += tCounting; }

}  // namespace

RealtimeScope::RealtimeScope() { tCounts = {}, tCounting = true; }
RealtimeScope::~RealtimeScope() { tCounting = false; }
RealtimeCounts RealtimeScope::counts() const { return tCounts; }

RealtimeCounts countThisThread() {
    if (!tCounting) {
        tCounts = {};
        tCounting = true;
    }
    return tCounts;
}

#ifdef VORNIK_SANITIZED
bool countsMalloc() { return false; }
#else
bool countsMalloc() { return true; }
#endif

}  // namespace vornik::test

using vornik::test::noteAllocation;
using vornik::test::noteLock;

void* operator new(std::size_t n) {
    noteAllocation();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    noteAllocation();
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept {
    return ::operator new(n, t);
}
void* operator new(std::size_t n, std::align_val_t a) {
    noteAllocation();
    const std::size_t align = static_cast<std::size_t>(a);
    if (void* p = std::aligned_alloc(align, (n + align - 1) / align * align)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) { return ::operator new(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

#ifndef VORNIK_SANITIZED
// glibc lets a program replace malloc; these forward to glibc's own and count on the way.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);

void* malloc(std::size_t n) {
    noteAllocation();
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    noteAllocation();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    noteAllocation();
    return __libc_realloc(p, n);
}

// Looked up on first use, without a guarded static (its guard might itself take a mutex).
using MutexFn = int (*)(pthread_mutex_t*);
static MutexFn realMutexFn(std::atomic<MutexFn>& slot, const char* name) {
    MutexFn f = slot.load(std::memory_order_relaxed);
    if (!f) {
        f = reinterpret_cast<MutexFn>(dlsym(RTLD_NEXT, name));
        slot.store(f, std::memory_order_relaxed);
    }
    return f;
}
static std::atomic<MutexFn> gLock{nullptr};
static std::atomic<MutexFn> gTryLock{nullptr};

int pthread_mutex_lock(pthread_mutex_t* m) {
    noteLock();
    return realMutexFn(gLock, "pthread_mutex_lock")(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
    noteLock();
    return realMutexFn(gTryLock, "pthread_mutex_trylock")(m);
}
}
#endif
