#pragma once
// Transactions of the layer tree: they bracket changes and decide whether an opacity change jumps
// or fades. Thread: main (the layer tree lives on the main thread).
//
// Rules:
// - Outside any transaction with actions disabled, a change of a layer's opacity fades from what
//   is shown now to the new value, over the innermost duration set, else kDefaultFadeDuration.
//   The model value reads back at once; the presentation value follows the layer clock.
// - Nothing else animates: every other property takes effect at once.
// - Nested transactions inherit the settings of the ones around them until they set their own.
// - Settings made outside begin()/commit() belong to the implicit transaction, which lasts until
//   the next flush() (the main loop flushes once per turn).

#include <cstddef>

#include "base/RunLoop.h"  // Clock

namespace vornik {

inline constexpr double kDefaultFadeDuration = 0.25;  // seconds, implicit opacity fades

class Transaction {
public:
    static void begin();
    // Ends the innermost transaction. A commit without a begin is logged and ignored.
    static void commit();
    // Ends the implicit transaction: its settings no longer apply. The renderer reads the tree
    // directly, so committed changes are visible to the next render without more work.
    static void flush();

    static void setDisableActions(bool disable);
    static bool disableActions();
    // Length of the fades started while this transaction is innermost. Zero, negative or not a
    // number sets no duration of its own: the enclosing one applies, else the default.
    static void setAnimationDuration(double seconds);
    static double animationDuration();

    // Explicit transactions open now.
    static std::size_t depth();

    // The clock that fades run on; a steady clock until one is installed. Returns the previous
    // one. The clock must outlive its installation.
    static const Clock* setClock(const Clock* clock);
    static double now();
};

// Installs a clock for fades while alive (tests: a ManualClock; the app: its run loop's clock).
class ScopedLayerClock {
public:
    explicit ScopedLayerClock(const Clock& clock) : previous_(Transaction::setClock(&clock)) {}
    ~ScopedLayerClock() { Transaction::setClock(previous_); }
    ScopedLayerClock(const ScopedLayerClock&) = delete;
    ScopedLayerClock& operator=(const ScopedLayerClock&) = delete;

private:
    const Clock* previous_;
};

// begin() now, commit() at the end of the scope.
class TransactionScope {
public:
    TransactionScope() { Transaction::begin(); }
    explicit TransactionScope(bool disableActions) {
        Transaction::begin();
        Transaction::setDisableActions(disableActions);
    }
    ~TransactionScope() { Transaction::commit(); }
    TransactionScope(const TransactionScope&) = delete;
    TransactionScope& operator=(const TransactionScope&) = delete;
};

}  // namespace vornik
