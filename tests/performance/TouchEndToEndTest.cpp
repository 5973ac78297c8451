// A touch in each mode, heard through the mixer: a ramp sample tells which frames a voice reads.

#include "performance/TouchTestSupport.h"

using namespace vornik;

TEST(TouchEndToEnd, EachModeSoundsAtTheFingersPlaceAndFadesOverTheDecay) {
    // Output frame n reads frame start + step * n. The bow's second head, 0.08 s behind, fades
    // in just as fast as the first moves on: together they stay at the finger's frame.
    struct Case {
        int mode;
        std::size_t frames;
        std::vector<double> fingers;
        double gain, start, step, tolerance;
    };
    const Case cases[] = {
        {Playhead::kSlicer, 48000, {625}, 0.725, 24000, 1, 0.02},      // the third of four slices
        {Playhead::kLooper, 100000, {600, 200}, 0.9, 20000, 1, 0.05},  // from the left finger
        {Playhead::kBow, 480000, {500}, 0.9, 240000, 0, 0.2},
        {Playhead::kTape, 48000, {250}, 0.9, 48000, -1, 0.02},  // backward, wrapping to the end
    };
    constexpr int kFrames = 64;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        test::Instrument in(c.mode, 0);
        in.load(test::ramp(c.frames, 1.0f / static_cast<float>(c.frames)));
        in.view.mixer().setAttack(1e-6);  // full level from the first frame
        in.view.setDecay(0.72);
        in.slice(4);
        TouchId id = 1;
        for (double x : c.fingers) in.down(id++, x);
        std::vector<float> left(kFrames), right(kFrames);
        const auto render = [&] { in.view.renderAudio(left.data(), right.data(), kFrames); };
        render();
        for (int n = 0; n < kFrames; ++n) {
            const double frame = n == 0 && c.step < 0 ? 0.0 : c.start + c.step * n;
            EXPECT_NEAR(left[n] / c.gain * c.frames, frame, c.tolerance) << n;
            EXPECT_EQ(left[n], right[n]);
        }
        EXPECT_EQ(in.voice(0).envelope(), 1.0);
        while (id > 1) in.up(--id);
        render();
        EXPECT_NEAR(in.voice(0).envelope(), 1.0 - kFrames / (0.72 * 48000.0), 1e-9);
    }
}
