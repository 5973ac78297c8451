#pragma once
// An audio thread for the threading tests: renders in ragged calls (as some drivers make them)
// until finished, and notes any value that is not finite.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace vornik::test {

class AudioThread {
public:
    template <class Render>
    explicit AudioThread(Render render)
        : thread_([this, render] {
              std::vector<float> left(256), right(256);
              for (int size = 1; !stop_.load(std::memory_order_relaxed);) {
                  size = size % 256 + 37;
                  const int n = std::min(size, 256);
                  render(left.data(), right.data(), n);
                  for (int i = 0; i < n; ++i) {
                      if (!std::isfinite(left[i]) || !std::isfinite(right[i])) nonFinite_ = true;
                  }
                  ++blocks_;
              }
          }) {}
    ~AudioThread() { finish(); }
    // Waits until `more` calls have rendered.
    void waitFor(long more) {
        const long target = blocks_ + more;
        while (blocks_ < target) std::this_thread::yield();
    }
    // Stops the thread; true if every value it rendered was finite.
    bool finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return !nonFinite_;
    }

private:
    std::atomic<bool> stop_{false}, nonFinite_{false};
    std::atomic<long> blocks_{0};
    std::thread thread_;
};

}  // namespace vornik::test
