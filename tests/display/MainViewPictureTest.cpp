// The strip in each play mode with voices playing, compared with golden PNGs
// (VORNIK_UPDATE_GOLDENS=1 rewrites them).

#include <gtest/gtest.h>

#include <cmath>

#include "MainViewTestSupport.h"
#include "display/Renderer.h"
#include "support/Golden.h"

using namespace vornik;
using test::Strip;

namespace {

constexpr double kWidth = 300.0;
constexpr double kHeight = 30.0;
constexpr std::uint32_t kFrames = 96000;  // two seconds at 48 kHz

// Eight decaying notes, each two octaves above the one before it in turn, so the bars differ in
// height and in colour; the right channel a little quieter.
std::unique_ptr<SampleSnapshot> notes() {
    std::vector<float> left(kFrames), right(kFrames);
    const std::uint32_t note = kFrames / 8;
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        const std::uint32_t k = i / note, t = i % note;
        const double frequency = 60.0 * std::pow(2.0, (k % 4) * 2.0);
        const double level = (0.3 + 0.1 * k) * std::exp(-3.0 * t / note);
        const double phase = 2.0 * M_PI * frequency * t / 48000.0;
        left[i] = static_cast<float>(level * std::sin(phase));
        right[i] = static_cast<float>(0.8 * level * std::sin(phase * 1.01));
    }
    return test::snapshotOf(left, right);
}

// Frames of the sample at x points along the strip.
double at(double x) { return x / kWidth * kFrames; }

// What the loader, the mode switch and the touch handlers leave behind before a frame.
void setUp(Strip& strip, int mode) {
    strip.loadAndMeasure(notes());
    strip.view.setPlayMode(mode);
    strip.view.renderWaveform();
    strip.view.setNumSlices(6);  // rebuilds in slicer mode, shows the markers in every mode
    const float h = static_cast<float>(kHeight);
    switch (mode) {
        case Playhead::kSlicer:
            strip.startVoice(0, mode, at(80), 1.0);
            strip.startVoice(1, mode, at(215), 0.5);
            strip.view.slices()[1].highlightOpacity = 1.0f;  // a finger just played it
            break;
        case Playhead::kLooper: {
            strip.startVoice(0, mode, at(130), 1.0);
            const auto& region = strip.view.voiceLayers(0).regionLayer;
            region->setBounds(Rect::make(0, 0, 120, h + 4.0));  // fingers at 60 and 180
            region->setPosition({60, -2});
            break;
        }
        case Playhead::kBow: {
            strip.startVoice(0, mode, at(150), 0.8).setBowPos(at(140));
            const double grain = 48000.0 * 0.16 * (kWidth / kFrames);
            const auto& region = strip.view.voiceLayers(0).regionLayer;
            region->setBounds(Rect::make(0, 0, grain, h + 4.0));
            region->setPosition({150 - grain * 0.5, -2});
            break;
        }
        case Playhead::kTape:
            for (std::size_t v = 0; v < 2; ++v) {
                const double finger = v == 0 ? 90.0 : 40.0;  // both left of the centre
                strip.startVoice(v, mode, at(200 + 30 * v), 1.0);
                const auto& bar = strip.view.voiceLayers(v).speedLayer;
                bar->setBounds(Rect::make(0, 0, kWidth * 0.5 - finger, 1.5));
                bar->setPosition({finger, kHeight - 2.0 - 5.0 * v});
            }
            break;
    }
    strip.capture(test::sine(1024, 256, 0.4f), test::sine(1024, 97, 0.3f));
    strip.view.update();
}

}  // namespace

TEST(StripPictures, EachPlayModeWithVoicesPlaying) {
    const char* names[] = {"slicer", "looper", "bow", "tape"};
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(names[mode]);
        Strip strip(kWidth, kHeight);
        setUp(strip, mode);
        Renderer renderer;
        const Image& image = renderer.render(*strip.view.layer(), 2.0, strip.clock.now());
        EXPECT_EQ(test::compareWithGolden(image, std::string("display/strip-") + names[mode]), "");
    }
}
