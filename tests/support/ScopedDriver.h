#pragma once
// Sets SDL_AUDIODRIVER while alive; tests never use a real sound card, so it goes back to dummy.

#include <stdlib.h>

namespace vornik::test {

struct ScopedDriver {
    explicit ScopedDriver(const char* name) { setenv("SDL_AUDIODRIVER", name, 1); }
    ~ScopedDriver() { setenv("SDL_AUDIODRIVER", "dummy", 1); }
};

}  // namespace vornik::test
