#include "base/RunLoop.h"

#include <algorithm>
#include <chrono>

namespace vornik {
namespace {

// std heap functions keep the "largest" on top, so "later" compares as larger.
struct Later {
    template <class Item>
    bool operator()(const Item& a, const Item& b) const {
        if (a.due != b.due) return a.due > b.due;
        return a.sequence > b.sequence;
    }
};

}  // namespace

double SteadyClock::now() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void RunLoop::after(double seconds, std::function<void()> work) {
    items_.push_back({now() + seconds, nextSequence_++, std::move(work), nullptr});
    std::push_heap(items_.begin(), items_.end(), Later{});
}

std::shared_ptr<Timer> RunLoop::scheduleTimer(double seconds, std::function<void()> fire) {
    auto timer = std::make_shared<Timer>();
    items_.push_back({now() + seconds, nextSequence_++, std::move(fire), timer});
    std::push_heap(items_.begin(), items_.end(), Later{});
    return timer;
}

void RunLoop::post(std::function<void()> work) {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(work));
}

void RunLoop::takePosted() {
    std::vector<std::function<void()>> posted;
    {
        std::lock_guard lock(postedMutex_);
        posted.swap(posted_);
    }
    const double t = now();
    for (auto& work : posted) {
        items_.push_back({t, nextSequence_++, std::move(work), nullptr});
        std::push_heap(items_.begin(), items_.end(), Later{});
    }
}

std::size_t RunLoop::runDue() {
    takePosted();
    std::size_t ran = 0;
    while (!items_.empty() && items_.front().due <= now()) {
        std::pop_heap(items_.begin(), items_.end(), Later{});
        Item item = std::move(items_.back());
        items_.pop_back();
        if (item.timer) {
            if (!item.timer->isValid()) continue;
            item.timer->valid_ = false;  // one-shot: no longer valid once it fires
        }
        item.work();
        ++ran;
        takePosted();
    }
    return ran;
}

void RunLoop::advance(ManualClock& clock, double seconds) {
    const double end = clock.now() + seconds;
    runDue();
    while (!items_.empty() && items_.front().due <= end) {
        clock.set(std::max(clock.now(), items_.front().due));
        runDue();
    }
    clock.set(end);
    runDue();
}

std::optional<double> RunLoop::nextDueTime() const {
    {
        std::lock_guard lock(postedMutex_);
        if (!posted_.empty()) return now();
    }
    if (items_.empty()) return std::nullopt;
    return items_.front().due;
}

}  // namespace vornik
