// Touches on the main thread while the audio thread renders (ThreadSanitizer in CI).

#include <random>

#include "performance/TouchTestSupport.h"
#include "support/AudioThread.h"
#include "support/LogLines.h"

using namespace vornik;

TEST(TouchThreads, FingersPlayWhileTheAudioThreadRenders) {
    test::Instrument in(Playhead::kSlicer, 0);
    in.load(test::ramp(48000, 1.0f / 48000.0f));
    in.slice(8);
    test::AudioThread audio([&](float* l, float* r, int n) { in.view.renderAudio(l, r, n); });
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
    EXPECT_TRUE(audio.finish());
}
