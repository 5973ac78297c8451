// The per-frame update: the first measurement, the voices' layers and their switch-off, the slice
// flashes, the oscilloscope, the meter and freeing replaced samples.

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "MainViewTestSupport.h"
#include "display/Renderer.h"
#include "support/Files.h"

using namespace vornik;
using test::Strip;

namespace {

// cursor, bowCursor, speedLayer, regionLayer
using Opacities = std::array<float, 4>;
Opacities opacities(MainView& view, std::size_t voice) {
    const auto& l = view.voiceLayers(voice);
    return {l.cursor->opacity(), l.bowCursor->opacity(), l.speedLayer->opacity(),
            l.regionLayer->opacity()};
}

// A capture source fed by the test: a square wave at `level`.
class HandFedSource final : public CaptureSource {
public:
    bool start(CaptureSink& sink) override { return (sink_ = &sink); }
    void stop() override { sink_ = nullptr; }
    void feed(float level, std::size_t frames) {
        std::vector<float> block(frames * 2);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = (i / 2) % 2 ? -level : level;
        if (sink_) sink_->captureFrames(block.data(), frames);
    }

private:
    CaptureSink* sink_ = nullptr;
};

// 100 frames per point on a 685-point strip.
std::unique_ptr<SampleSnapshot> hundredPerPoint() {
    return test::snapshotOf(std::vector<float>(68500, 0.1f));
}

}  // namespace

TEST(DisplayUpdate, FirstTickMeasuresTheStripAndResizesRelayOut) {
    Strip strip(685, 30);
    EXPECT_EQ(strip.view.meterLayer()->opacity(), 0.0f);
    EXPECT_EQ(strip.view.looperAlert()->opacity(), 0.0f);
    strip.load(test::snapshotOf(test::sine(44100, 100, 0.5f)));
    strip.view.setNumSlices(4);
    strip.view.setPresentationTime(0.0);  // the tick's stored value: no update
    EXPECT_EQ(strip.view.touchBarSize().x, 0.0);
    for (auto [width, bars, marker1] : {std::tuple{685.0, 228u, 171.25}, {1004.0, 335u, 251.0}}) {
        SCOPED_TRACE(width);
        strip.resize(width, 30);
        strip.view.setPresentationTime(1.0);  // any other value runs one update
        EXPECT_EQ(strip.view.touchBarSize(), (Point{width, 30}));
        for (const LayerPtr& l : {strip.view.waveform(), strip.view.markersLayer(),
                                  strip.view.highlightsLayer(), LayerPtr(strip.view.oscLayer())}) {
            EXPECT_EQ(l->frame(), Rect::make(0, 0, width, 30));
        }
        EXPECT_EQ(strip.view.looperAlert()->position(), (Point{width / 2, 15}));
        EXPECT_EQ(strip.bars().size(), bars);
        ASSERT_EQ(strip.markers().size(), 4u);
        EXPECT_DOUBLE_EQ(strip.markers()[1]->position().x, marker1);
        EXPECT_DOUBLE_EQ(strip.highlights()[1]->bounds().size.width, marker1);
        const LayerPtr bar = strip.bars()[0];
        strip.view.update();  // same width: nothing is redrawn
        EXPECT_EQ(strip.bars()[0], bar);
    }
}

TEST(DisplayUpdate, VoiceLayersFollowTheVoicesInEachMode) {
    Strip strip(685, 30);
    strip.loadAndMeasure(hundredPerPoint());
    strip.startVoice(0, Playhead::kSlicer, 17125.0, 0.5);
    strip.startVoice(1, Playhead::kLooper, 34250.0, 1.0);
    Playhead& bow = strip.startVoice(2, Playhead::kBow, 1000.0, 0.25);
    bow.setBowPos(2000.0);
    strip.startVoice(3, Playhead::kTape, 68500.0, 1.0);
    auto& stale = strip.view.voiceLayers(4);  // inactive, left visible: goes dark
    for (const LayerPtr& l : {stale.cursor, stale.bowCursor, stale.speedLayer, stale.regionLayer}) {
        l->setOpacity(1.0f);
    }
    strip.view.update();
    const Opacities expected[] = {
        {0.5f, 0, 0, 0}, {1.0f, 0, 0, 0.6f}, {0.25f, 0.25f, 0, 0.15f}, {1.0f, 0, 0.8f, 0}, {}};
    const double x[] = {171.25, 342.5, 10, 685};
    for (std::size_t v = 0; v < 5; ++v) EXPECT_EQ(opacities(strip.view, v), expected[v]) << v;
    for (std::size_t v = 0; v < 4; ++v) {
        EXPECT_EQ(strip.view.voiceLayers(v).cursor->position(), (Point{x[v], 0})) << v;
    }
    EXPECT_EQ(strip.view.voiceLayers(2).bowCursor->position(), (Point{20, 0}));
    bow.setMode(Playhead::kSlicer);  // the bow cursor stays as it was outside bow mode
    strip.view.update();
    EXPECT_EQ(opacities(strip.view, 2), (Opacities{0.25f, 0.25f, 0, 0}));
    // Immediate even on layers already on screen.
    Renderer renderer;
    renderer.render(*strip.view.layer(), 1.0, strip.clock.now());
    strip.view.playheads()[1].setEnvelope(0.5);
    strip.view.update();
    EXPECT_EQ(strip.view.voiceLayers(1).regionLayer->presentationOpacity(strip.clock.now()), 0.3f);
}

TEST(DisplayUpdate, VoicesSwitchOffOnlyWhenReleasedAndSilentAndOldSamplesAreFreed) {
    Strip strip(685, 30);
    strip.loadAndMeasure(hundredPerPoint());
    Playhead& released = strip.startVoice(0, Playhead::kLooper, 100.0, 0.0001, kNoTouch);
    Playhead& held = strip.startVoice(1, Playhead::kTape, 100.0, 0.0);
    Playhead& fading = strip.startVoice(2, Playhead::kSlicer, 100.0, 0.3);
    fading.setFadeOut(true);
    strip.view.update();
    EXPECT_TRUE(released.active() && fading.active());  // not yet silent
    released.setEnvelope(0.0);
    fading.setEnvelope(0.0);
    strip.view.update();
    EXPECT_FALSE(released.active() || fading.active());
    EXPECT_TRUE(held.active());  // silent, but its finger is down
    EXPECT_EQ(opacities(strip.view, 1), Opacities{});
    // A switched-off voice keeps its layers for that call (the bow cursor outside bow mode) and
    // goes dark in the next.
    Playhead& bow = strip.startVoice(3, Playhead::kBow, 100.0, 0.5, kNoTouch);
    strip.view.update();
    bow.setMode(Playhead::kSlicer);
    bow.setEnvelope(0.0);
    strip.view.update();
    EXPECT_FALSE(bow.active());
    EXPECT_EQ(opacities(strip.view, 3), (Opacities{0, 0.5f, 0, 0}));
    strip.view.update();
    EXPECT_EQ(opacities(strip.view, 3), Opacities{});
    // No file (length 0): the cursors stay put, the switch-off goes on.
    Playhead& v = strip.startVoice(4, Playhead::kBow, 6850.0, 1.0);
    strip.view.update();
    strip.load(std::make_unique<SampleSnapshot>());
    v.setPos(30000.0);
    v.setEnvelope(0.0);
    v.setFadeOut(true);
    strip.view.update();
    EXPECT_EQ(strip.view.voiceLayers(4).cursor->position(), (Point{68.5, 0}));
    EXPECT_FALSE(v.active());
    // A replaced sample is freed at the next frame, not at the next load.
    strip.loadAndMeasure(hundredPerPoint());
    const std::weak_ptr<const float[]> old = strip.view.sample().storage;
    strip.view.mixer().sample().acquireForRender();  // a render call reads it while the next loads
    strip.load(hundredPerPoint());
    EXPECT_FALSE(old.expired());
    float left[64], right[64];
    strip.view.renderAudio(left, right, 64);
    strip.view.renderAudio(left, right, 64);
    strip.view.update();
    EXPECT_TRUE(old.expired());
}

TEST(DisplayUpdate, SliceFlashesDecayPerFrame) {
    Strip strip(685, 30);
    strip.loadAndMeasure(test::snapshotOf(test::sine(44100, 100, 0.5f)));
    strip.view.setNumSlices(4);
    Slice& slice = strip.view.slices()[1];
    const LayerPtr& highlight = strip.view.sliceLayers()[1].highlight;
    slice.highlightOpacity = 1.0f;  // as a slicer touch flashes it
    for (const float e : {0.4185f, 0.3892f, 0.3620f}) {
        strip.view.update();
        EXPECT_NEAR(highlight->opacity(), e, 0.0001);
    }
    EXPECT_EQ(strip.view.sliceLayers()[0].highlight->opacity(), 0.0f);
    // At or below 0.01 the layer keeps the last opacity it was given.
    int frames = 3;
    for (; slice.highlightOpacity > 0.01f; ++frames) strip.view.update();
    EXPECT_EQ(frames, 64);
    const float last = highlight->opacity();
    strip.view.update();
    EXPECT_EQ(highlight->opacity(), last);
    // A list rebuilt without being shown has no layers to flash: nothing breaks.
    strip.view.createSlices();
    strip.view.slices()[0].highlightOpacity = 1.0f;
    strip.view.update();
    EXPECT_NEAR(strip.view.slices()[0].highlightOpacity, 0.93f, 1e-6);
}

TEST(DisplayUpdate, OscilloscopeTracesTheLatestCaptureAndTheMeterTheInput) {
    Strip strip(1004, 30);
    strip.view.update();
    EXPECT_TRUE(strip.view.oscLayer()->path().isEmpty());  // no capture yet
    std::vector<float> left(1024, 0.0f), right(1024, 0.0f);
    left[0] = right[0] = 1.0f;  // a full-scale sum of 2.0 at the first point
    left[512] = -0.5f;
    right[1023] = 0.25f;
    strip.capture(left, right);
    strip.view.update();
    strip.view.update();  // no new capture: the trace stays as drawn
    const auto& points = strip.view.oscLayer()->path().elements();
    ASSERT_EQ(points.size(), 1024u);
    EXPECT_EQ(points[0].op, Path::Op::Move);
    EXPECT_EQ(points[0].points[0], (Point{0.0, 37.5}));
    EXPECT_EQ(points[1].op, Path::Op::Line);
    EXPECT_EQ(points[512].points[0], (Point{512 * 1004.0 / 1024.0, 15.0 - 5.625}));
    EXPECT_EQ(points[1023].points[0], (Point{1023.0 * 1004.0 / 1024.0, 15.0 + 2.8125}));
    // Recording clears the trace; the centred meter disc grows with the input level (5 points at
    // silence, 3005 at 0 dB).
    test::TempDir dir;
    auto source = std::make_unique<HandFedSource>();
    HandFedSource* input = source.get();
    strip.view.setRecorder(std::make_unique<Recorder>(dir.path(), std::move(source)));
    strip.view.recordingStart();
    EXPECT_TRUE(strip.view.oscLayer()->path().isEmpty());
    EXPECT_EQ(strip.view.meterLayer()->opacity(), 1.0f);
    const Layer& meter = *strip.view.meterLayer();
    strip.view.update();
    EXPECT_NEAR(meter.bounds().size.width, 5.0, 0.001);
    strip.capture(std::vector<float>(1024, 0.1f), std::vector<float>(1024, 0.1f));
    input->feed(1.0f, 4410);
    strip.view.update();
    EXPECT_TRUE(strip.view.oscLayer()->path().isEmpty());
    EXPECT_NEAR(meter.bounds().size.width, 3005.0, 0.01);
    EXPECT_EQ(meter.position(), (Point{502, 15}));
    EXPECT_EQ(meter.cornerRadius(), meter.bounds().size.height * 0.5);
    input->feed(0.5f, 4410);  // about -6 dB
    strip.view.update();
    EXPECT_NEAR(meter.bounds().size.width, 1505.0, 0.5);
    // After recording the waiting capture is drawn and the meter is left as it is.
    strip.view.setRecording(false);  // as recordingEnd does first
    input->feed(1.0f, 4410);
    strip.view.update();
    EXPECT_NEAR(meter.bounds().size.width, 1505.0, 0.5);
    ASSERT_EQ(strip.view.oscLayer()->path().size(), 1024u);
    EXPECT_FLOAT_EQ(strip.view.oscLayer()->path().elements()[5].points[0].y, 15.0f + 0.2f * 11.25f);
    strip.view.recorder().stop();
}
