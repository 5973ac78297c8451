#pragma once
// One event of the strip, as the instrument receives it: the touches of the event sorted by
// phase. A finger keeps its identity from the event it began in to the one it ended or was
// cancelled in; locations are in strip points (origin bottom-left, y up). Plain values: any
// thread, though only the main thread delivers them.

#include <vector>

#include "base/Touch.h"

namespace vornik {

struct TouchEvent {
    std::vector<Touch> began;
    std::vector<Touch> moved;
    std::vector<Touch> ended;
    std::vector<Touch> cancelled;

    bool empty() const {
        return began.empty() && moved.empty() && ended.empty() && cancelled.empty();
    }
};

}  // namespace vornik
