// Touches on the main thread while the audio thread renders (ThreadSanitizer in CI).

#include <atomic>
#include <random>
#include <thread>

#include "performance/TouchTestSupport.h"
#include "support/LogLines.h"

using namespace vornik;

TEST(TouchThreads, FingersPlayWhileTheAudioThreadRenders) {
    test::Instrument in(Playhead::kSlicer, 0);
    in.load(test::ramp(48000, 1.0f / 48000.0f));
    in.slice(8);
    std::atomic<bool> stop{false}, nonFinite{false};
    std::thread audio([&] {
        std::vector<float> left(64), right(64);
        while (!stop.load(std::memory_order_relaxed)) {
            in.view.renderAudio(left.data(), right.data(), 64);
            for (int i = 0; i < 64; ++i) {
                if (!std::isfinite(left[i]) || !std::isfinite(right[i])) nonFinite = true;
            }
        }
    });
    test::LogLines log;  // a full pool is logged; expected here
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> x(0.0, 1000.0);
    std::vector<TouchId> down;
    for (TouchId next = 1; next <= 20000; ++next) {
        if (next % 500 == 0) in.view.setPlayMode(static_cast<int>(rng() % 4));
        const unsigned action = rng() % 4;
        if (action == 0 || down.empty()) {
            in.down(next, x(rng));
            down.push_back(next);
        } else if (action == 1 && down.size() > 1) {
            const std::size_t k = rng() % down.size();
            in.up(down[k]);
            down.erase(down.begin() + static_cast<long>(k));
        } else {
            in.move(down[rng() % down.size()], x(rng));
        }
        // What the display update does: released voices that have gone quiet are freed.
        for (Playhead& v : in.view.playheads()) {
            if (v.active() && v.touchid() == kNoTouch && v.envelope() == 0.0) v.setActive(false);
        }
    }
    stop = true;
    audio.join();
    EXPECT_FALSE(nonFinite.load());
}
