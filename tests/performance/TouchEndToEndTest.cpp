// A touch in each mode, heard through the mixer: a ramp sample, whose values grow with their
// frame number, tells which frames a voice reads.

#include <gtest/gtest.h>

#include <cmath>

#include "performance/TouchTestSupport.h"
#include "sample/Slices.h"
#include "support/RealtimeGuard.h"

using namespace vornik;
using test::Instrument;

namespace {

constexpr int kFrames = 64;

struct Heard {
    std::vector<float> left = std::vector<float>(kFrames);
    std::vector<float> right = std::vector<float>(kFrames);
};

// An instrument over a ramp of `frames` frames (value = frame / frames), with an attack so short
// that a voice is at full level from its first frame.
struct RampInstrument : Instrument {
    explicit RampInstrument(std::size_t frames, int mode)
        : Instrument(1000.0, 30.0), length(frames) {
        load(test::ramp(frames, 1.0f / static_cast<float>(frames)));
        view.mixer().setAttack(1e-6);
        view.setPlayMode(mode);
    }

    Heard render() {
        Heard h;
        test::RealtimeScope scope;
        view.renderAudio(h.left.data(), h.right.data(), kFrames);
        const test::RealtimeCounts counts = scope.counts();
        EXPECT_EQ(counts.allocations, 0u);
        EXPECT_EQ(counts.locks, 0u);
        return h;
    }

    // The frame a rendered value was read from, at the voice's gain.
    double frameOf(float value, double gain) const { return value / gain * length; }

    double length;
};

}  // namespace

TEST(TouchEndToEnd, EachModeSoundsAtTheFingersPlace) {
    {
        SCOPED_TRACE("slicer: the third of four slices, from its start, at 0.725");
        RampInstrument in(48000, Playhead::kSlicer);
        in.view.setNumSlices(4);
        setSliceEnds(in.view.slices());
        in.down(1, 625.0);
        const Heard h = in.render();
        for (int n = 0; n < kFrames; ++n) {
            EXPECT_NEAR(in.frameOf(h.left[n], 0.725), 24000.0 + n, 0.02) << n;
            EXPECT_EQ(h.left[n], h.right[n]);
        }
    }
    {
        SCOPED_TRACE("looper: from the left finger's frame");
        RampInstrument in(100000, Playhead::kLooper);
        in.down(1, 600.0);
        in.down(2, 200.0);
        const Heard h = in.render();
        for (int n = 0; n < kFrames; ++n) {
            EXPECT_NEAR(in.frameOf(h.left[n], 0.9), 20000.0 + n, 0.05) << n;
        }
    }
    {
        SCOPED_TRACE("bow: the finger's frame, with the second head 0.08 s behind fading in");
        RampInstrument in(480000, Playhead::kBow);
        in.down(1, 500.0);
        const Heard h = in.render();
        EXPECT_NEAR(in.frameOf(h.left[0], 0.9), 240000.0, 0.2);
        for (int n = 0; n < kFrames; ++n) {
            const double weight = n * 12.5 / 48000.0;
            const double expected = (1 - weight) * (240000.0 + n) + weight * (236160.0 + n);
            EXPECT_NEAR(in.frameOf(h.left[n], 0.9), expected, 0.2) << n;
        }
    }
    {
        SCOPED_TRACE("tape: from the start, forward right of the centre, backward left of it");
        RampInstrument forward(48000, Playhead::kTape);
        forward.down(1, 750.0);
        const Heard f = forward.render();
        for (int n = 0; n < kFrames; ++n) EXPECT_NEAR(forward.frameOf(f.left[n], 0.9), n, 0.02);

        RampInstrument backward(48000, Playhead::kTape);
        backward.down(1, 250.0);
        const Heard b = backward.render();
        EXPECT_EQ(b.left[0], 0.0f);
        for (int n = 1; n < kFrames; ++n) {
            EXPECT_NEAR(backward.frameOf(b.left[n], 0.9), 48000.0 - n, 0.02) << n;
        }
    }
}

TEST(TouchEndToEnd, ALiftedFingerFadesOverTheDecay) {
    RampInstrument in(48000, Playhead::kBow);
    in.view.setDecay(0.72);
    in.down(1, 500.0);
    in.render();
    const double before = in.voice(0).envelope();
    in.up(1);
    in.render();
    EXPECT_EQ(before, 1.0);
    EXPECT_NEAR(in.voice(0).envelope(), 1.0 - kFrames / (0.72 * 48000.0), 1e-9);
}
