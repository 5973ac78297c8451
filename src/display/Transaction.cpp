#include "display/Transaction.h"

#include <cmath>
#include <vector>

#include "base/Log.h"

namespace vornik {
namespace {

struct Settings {
    signed char disableActions = -1;  // -1: not set here, inherit
    double duration = 0.0;            // 0: not set here, inherit
};

struct State {
    State() { levels.reserve(8); }  // nesting stays shallow; no allocation per frame

    std::vector<Settings> levels;  // explicit transactions, innermost last
    Settings implicit;             // settings made outside any explicit transaction
    bool disableActions = false;   // effective values, kept up to date on every change
    double duration = kDefaultFadeDuration;
    const Clock* clock = nullptr;

    Settings& innermost() { return levels.empty() ? implicit : levels.back(); }

    void refresh() {
        disableActions = false;
        duration = kDefaultFadeDuration;
        bool disableFound = false, durationFound = false;
        auto take = [&](const Settings& s) {
            if (!disableFound && s.disableActions >= 0) {
                disableActions = s.disableActions != 0;
                disableFound = true;
            }
            if (!durationFound && s.duration > 0.0) {
                duration = s.duration;
                durationFound = true;
            }
        };
        for (auto it = levels.rbegin(); it != levels.rend(); ++it) take(*it);
        take(implicit);
    }
};

State& state() {
    static State s;
    return s;
}

const Clock& defaultClock() {
    static const SteadyClock clock;
    return clock;
}

}  // namespace

void Transaction::begin() {
    state().levels.emplace_back();
    state().refresh();
}

void Transaction::commit() {
    State& s = state();
    if (s.levels.empty()) {
        logLine("layer transaction committed without a begin; ignored");
        return;
    }
    s.levels.pop_back();
    s.refresh();
}

void Transaction::flush() {
    State& s = state();
    s.implicit = Settings{};
    s.refresh();
}

void Transaction::setDisableActions(bool disable) {
    State& s = state();
    s.innermost().disableActions = disable ? 1 : 0;
    s.refresh();
}

bool Transaction::disableActions() { return state().disableActions; }

void Transaction::setAnimationDuration(double seconds) {
    State& s = state();
    s.innermost().duration = (std::isfinite(seconds) && seconds > 0.0) ? seconds : 0.0;
    s.refresh();
}

double Transaction::animationDuration() { return state().duration; }

std::size_t Transaction::depth() { return state().levels.size(); }

const Clock* Transaction::setClock(const Clock* clock) {
    const Clock* previous = state().clock;
    state().clock = clock;
    return previous;
}

double Transaction::now() {
    const Clock* clock = state().clock;
    return clock ? clock->now() : defaultClock().now();
}

}  // namespace vornik
