#pragma once
// Keeps the state file up to date while the program runs: once a second it compares the state
// as it is now with what was last saved, and writes the file when they differ, so a change is
// saved within a second and the file is written at most once a second. It writes once more at
// quit. Everything runs on the main run loop's timers, never on the audio thread.
//
// A fresh start (--fresh), or one whose file could not be used, leaves the file alone until the
// user changes something: the window being placed or sized does not count.
// Thread: main, for every call here.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/RunLoop.h"
#include "session/SessionState.h"

namespace vornik {

inline constexpr double kStateCheckInterval = 1.0;  // seconds

class StateKeeper {
public:
    using Capture = std::function<SessionState()>;

    // `file`: where the state lives; empty keeps nothing (logged).
    StateKeeper(RunLoop& runLoop, std::filesystem::path file);
    ~StateKeeper();
    StateKeeper(const StateKeeper&) = delete;
    StateKeeper& operator=(const StateKeeper&) = delete;

    // What to restore: the saved state, or the defaults with `fresh` (the file not even read) or
    // when the file is missing or cannot be used.
    SessionState load(bool fresh);
    // From now on `capture` gives the state as it is now; checked once a second.
    void start(Capture capture);
    // The last check, at quit, while everything `capture` reads is still there. Stops checking.
    void quit();
    // One check now: writes when the state changed. True when it wrote.
    bool check();

    const std::filesystem::path& file() const { return file_; }
    int writes() const { return writes_; }

private:
    void scheduleCheck();

    RunLoop& runLoop_;
    std::filesystem::path file_;
    Capture capture_;
    std::shared_ptr<Timer> timer_;
    SessionState loaded_;                // as read, for the keys no subsystem sets
    std::optional<SessionState> saved_;  // what the file holds, when it is ours
    // Until armed, only a change from `baseline_` other than the window's writes.
    bool armed_ = true;
    SessionState baseline_;
    std::string lastError_;
    int writes_ = 0;
};

}  // namespace vornik
