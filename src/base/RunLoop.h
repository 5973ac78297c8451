#pragma once
// The main thread's run loop: delayed work and one-shot timers on an injectable clock.
// Everything here runs on the main thread, except post(), which any thread (not audio) may call.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vornik {

// Seconds on a monotonic time line.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

class SteadyClock final : public Clock {
public:
    double now() const override;
};

// A clock that moves only when told: tests and the offline renderer.
class ManualClock final : public Clock {
public:
    double now() const override { return now_; }
    void set(double seconds) { now_ = seconds; }
    void advance(double seconds) { now_ += seconds; }

private:
    double now_ = 0.0;
};

// A one-shot timer. It fires once, then is no longer valid; invalidate() cancels it.
class Timer {
public:
    void invalidate() { valid_ = false; }
    bool isValid() const { return valid_; }

private:
    friend class RunLoop;
    bool valid_ = true;
};

class RunLoop {
public:
    explicit RunLoop(Clock& clock) : clock_(clock) {}
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    Clock& clock() const { return clock_; }
    double now() const { return clock_.now(); }

    // Runs `work` once, `seconds` from now. Due work runs in order of due time, then of scheduling.
    void after(double seconds, std::function<void()> work);

    // Fires `fire` once, `seconds` from now, unless the timer is invalidated first.
    std::shared_ptr<Timer> scheduleTimer(double seconds, std::function<void()> fire);

    // Queues `work` to run at the next runDue(). Thread: any but audio.
    void post(std::function<void()> work);

    // Runs everything due by now, including work that becomes due while it runs.
    // Returns how many items ran.
    std::size_t runDue();

    // Moves a manual clock forward by `seconds`, stopping at each due time on the way so that
    // every item runs with the clock showing its own due time.
    void advance(ManualClock& clock, double seconds);

    // When the earliest pending item is due; nothing if none is pending (posted work counts as now).
    std::optional<double> nextDueTime() const;

    std::size_t pendingCount() const { return items_.size(); }

private:
    struct Item {
        double due;
        std::uint64_t sequence;
        std::function<void()> work;
        std::shared_ptr<Timer> timer;  // null for plain delayed work
    };
    void takePosted();

    Clock& clock_;
    std::vector<Item> items_;  // a heap, earliest due and first scheduled on top
    std::uint64_t nextSequence_ = 0;

    mutable std::mutex postedMutex_;
    std::vector<std::function<void()>> posted_;
};

}  // namespace vornik
