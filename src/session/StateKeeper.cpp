#include "session/StateKeeper.h"

#include "base/Log.h"
#include "base/Status.h"
#include "session/StateFile.h"

namespace vornik {
namespace {

SessionState withoutWindow(SessionState s) {
    s.window.reset();
    return s;
}

}  // namespace

StateKeeper::StateKeeper(RunLoop& runLoop, std::filesystem::path file)
    : runLoop_(runLoop), file_(std::move(file)) {}

StateKeeper::~StateKeeper() {
    if (timer_) timer_->invalidate();
}

SessionState StateKeeper::load(bool fresh) {
    if (file_.empty()) {
        logLine("no home folder (HOME and XDG_STATE_HOME are unset): nothing is kept between runs");
        return {};
    }
    removeStaleTemporaries(file_);
    if (fresh) {
        logf("starting fresh: the saved state in \"%s\" stays until something is changed",
             file_.string().c_str());
        armed_ = false;
        return {};
    }
    StateFileContents contents = readStateFile(file_);
    switch (contents.outcome) {
        case StateFileContents::Outcome::missing:
            break;
        case StateFileContents::Outcome::ok:
            loaded_ = contents.state;
            saved_ = std::move(contents.state);
            break;
        case StateFileContents::Outcome::unusable:
            armed_ = false;  // it stays for the user to look at, until something changes
            break;
    }
    return loaded_;
}

void StateKeeper::start(Capture capture) {
    capture_ = std::move(capture);
    if (!capture_ || file_.empty()) return;
    baseline_ = withoutWindow(capture_());
    scheduleCheck();
}

void StateKeeper::scheduleCheck() {
    if (timer_) timer_->invalidate();
    timer_ = runLoop_.scheduleTimer(kStateCheckInterval, [this] {
        check();
        scheduleCheck();
    });
}

void StateKeeper::quit() {
    if (timer_) timer_->invalidate();
    timer_.reset();
    check();
    capture_ = nullptr;
}

bool StateKeeper::check() {
    if (!capture_ || file_.empty()) return false;
    SessionState now = capture_();
    now.others.insert(loaded_.others.begin(), loaded_.others.end());  // no subsystem set these
    if (saved_ && now == *saved_) return false;
    if (!armed_) {
        if (withoutWindow(now) == baseline_) return false;
        armed_ = true;
    }
    std::string error;
    if (!writeFileAtomically(file_, formatState(now), error)) {
        // Tried again at the next check; said once per kind of failure.
        if (error != lastError_) {
            logf("cannot save the state: %s", error.c_str());
            showStatus("Cannot save Vornik's settings: " + error);
            lastError_ = error;
        }
        return false;
    }
    lastError_.clear();
    saved_ = std::move(now);
    ++writes_;
    return true;
}

}  // namespace vornik
