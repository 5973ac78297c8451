#pragma once
// Counts what a thread does that the audio thread must never do: allocate memory and take locks.
// Linked into every test binary; counting happens only on a thread inside a RealtimeScope.

#include <cstddef>

namespace vornik::test {

struct RealtimeCounts {
    std::size_t allocations = 0;  // operator new, malloc, calloc, realloc
    std::size_t locks = 0;        // pthread_mutex_lock, pthread_mutex_trylock
};

// While alive, this thread's allocations and locks are counted.
class RealtimeScope {
public:
    RealtimeScope();
    ~RealtimeScope();
    RealtimeCounts counts() const;
};

// Counts on the calling thread from now on, for the rest of its life: a thread the test does not
// own (a sound server's), entered from a callback. Returns the counts since the first call.
RealtimeCounts countThisThread();

// False in sanitizer builds, which own malloc themselves: then only operator new is counted.
bool countsMalloc();

}  // namespace vornik::test
