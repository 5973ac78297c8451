// The per-frame update: the construction state, the first measurement of the strip, the voices'
// layers and their switch-off, the slice flashes, the oscilloscope, the meter and the tick.

#include <gtest/gtest.h>

#include <memory>

#include "MainViewTestSupport.h"
#include "display/DisplayConstants.h"
#include "display/Renderer.h"
#include "sample/RecorderTestFiles.h"
#include "support/RealtimeGuard.h"

using namespace vornik;
using test::Strip;

namespace {

void expectNear(Point p, double x, double y) {
    EXPECT_NEAR(p.x, x, 1e-9);
    EXPECT_NEAR(p.y, y, 1e-9);
}

void expectRect(const Rect& r, double x, double y, double w, double h) {
    EXPECT_DOUBLE_EQ(r.origin.x, x);
    EXPECT_DOUBLE_EQ(r.origin.y, y);
    EXPECT_DOUBLE_EQ(r.size.width, w);
    EXPECT_DOUBLE_EQ(r.size.height, h);
}

struct Opacities {
    float cursor, bowCursor, speed, region;
    friend bool operator==(const Opacities&, const Opacities&) = default;
};

Opacities opacities(MainView& view, std::size_t voice) {
    const auto& l = view.voiceLayers(voice);
    return {l.cursor->opacity(), l.bowCursor->opacity(), l.speedLayer->opacity(),
            l.regionLayer->opacity()};
}

void PrintTo(const Opacities& o, std::ostream* os) {
    *os << "{" << o.cursor << ", " << o.bowCursor << ", " << o.speed << ", " << o.region << "}";
}

// A capture source that delivers what the test hands it.
class HandFedSource final : public CaptureSource {
public:
    bool start(CaptureSink& sink) override {
        sink_ = &sink;
        return true;
    }
    void stop() override { sink_ = nullptr; }
    void feed(float level, std::size_t frames) {
        std::vector<float> block(frames * 2);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = (i / 2) % 2 ? -level : level;
        if (sink_) sink_->captureFrames(block.data(), frames);
    }

private:
    CaptureSink* sink_ = nullptr;
};

}  // namespace

TEST(DisplayUpdate, ConstructionLeavesEverythingTransparent) {
    Strip strip(685, 30);
    for (std::size_t i = 0; i < kVoiceCount; ++i) {
        EXPECT_EQ(opacities(strip.view, i), (Opacities{0, 0, 0, 0})) << i;
    }
    EXPECT_EQ(strip.view.meterLayer()->opacity(), 0.0f);
    EXPECT_EQ(strip.view.looperAlert()->opacity(), 0.0f);
    EXPECT_TRUE(strip.view.oscLayer()->path().isEmpty());
    EXPECT_TRUE(strip.markers().empty());
    EXPECT_TRUE(strip.highlights().empty());
    EXPECT_TRUE(strip.bars().empty());
    EXPECT_EQ(strip.view.touchBarSize(), (Point{0, 0}));
    EXPECT_EQ(strip.view.presentationTime(), 0.0);

    // Rendered, the strip shows nothing at all.
    Renderer renderer;
    const Image& image = renderer.render(*strip.view.layer(), 1.0, strip.clock.now());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) ASSERT_EQ(image.pixel(x, y).a, 0) << x << "," << y;
    }
}

TEST(DisplayUpdate, FirstUpdateMeasuresTheStripAndResizesRelayOut) {
    Strip strip(685, 30);
    strip.load(test::snapshotOf(test::sine(44100, 100, 0.5f)));
    strip.view.setNumSlices(4);
    EXPECT_EQ(strip.view.touchBarSize().x, 0.0);

    strip.view.update();
    EXPECT_EQ(strip.view.touchBarSize(), (Point{685, 30}));
    for (const LayerPtr& l : {strip.view.waveform(), strip.view.markersLayer(),
                              strip.view.highlightsLayer(), LayerPtr(strip.view.oscLayer())}) {
        expectRect(l->frame(), 0, 0, 685, 30);
    }
    EXPECT_EQ(strip.view.looperAlert()->position(), (Point{342.5, 15}));
    EXPECT_EQ(strip.bars().size(), 228u);
    ASSERT_EQ(strip.markers().size(), 4u);
    EXPECT_DOUBLE_EQ(strip.markers()[1]->position().x, 171.25);

    // Same width: nothing is redrawn.
    const LayerPtr bar = strip.bars()[0], marker = strip.markers()[0];
    strip.view.update();
    EXPECT_EQ(strip.bars()[0], bar);
    EXPECT_EQ(strip.markers()[0], marker);

    // Growing the strip re-frames the containers, re-centres the hint and redraws once.
    strip.resize(1004, 30);
    strip.view.update();
    EXPECT_EQ(strip.view.touchBarSize(), (Point{1004, 30}));
    expectRect(strip.view.waveform()->frame(), 0, 0, 1004, 30);
    expectRect(strip.view.oscLayer()->frame(), 0, 0, 1004, 30);
    EXPECT_EQ(strip.view.looperAlert()->position(), (Point{502, 15}));
    EXPECT_EQ(strip.bars().size(), 335u);  // 334.67 rounded
    EXPECT_NE(strip.markers()[0], marker);
    EXPECT_DOUBLE_EQ(strip.markers()[1]->position().x, 251.0);
    const LayerPtr grownBar = strip.bars()[0];
    strip.view.update();
    EXPECT_EQ(strip.bars()[0], grownBar);
}

TEST(DisplayUpdate, VoiceLayersFollowTheVoicesInEachMode) {
    Strip strip(685, 30);
    strip.load(test::snapshotOf(std::vector<float>(68500, 0.1f)));  // 100 frames per point
    strip.view.update();

    strip.startVoice(0, Playhead::kSlicer, 17125.0, 0.5);
    strip.startVoice(1, Playhead::kLooper, 34250.0, 1.0);
    Playhead& bow = strip.startVoice(2, Playhead::kBow, 1000.0, 0.25);
    bow.setBowPos(2000.0);
    strip.startVoice(3, Playhead::kTape, 68500.0, 1.0);
    // An inactive voice whose layers were left visible goes dark.
    auto& stale = strip.view.voiceLayers(4);
    for (const LayerPtr& l : {stale.cursor, stale.bowCursor, stale.speedLayer, stale.regionLayer}) {
        l->setOpacity(1.0f);
    }
    strip.view.update();

    EXPECT_EQ(opacities(strip.view, 0), (Opacities{0.5f, 0, 0, 0}));
    EXPECT_EQ(strip.view.voiceLayers(0).cursor->position(), (Point{171.25, 0}));
    // Looper, held at full level: cursor 1, region box 0.6.
    EXPECT_EQ(opacities(strip.view, 1), (Opacities{1.0f, 0, 0, 0.6f}));
    EXPECT_EQ(strip.view.voiceLayers(1).cursor->position(), (Point{342.5, 0}));
    // Bow: the second head has its own cursor.
    EXPECT_EQ(opacities(strip.view, 2), (Opacities{0.25f, 0.25f, 0, 0.15f}));
    expectNear(strip.view.voiceLayers(2).cursor->position(), 10, 0);
    expectNear(strip.view.voiceLayers(2).bowCursor->position(), 20, 0);
    // Tape: speed bar at 0.8 of the cursor, no region box.
    EXPECT_EQ(opacities(strip.view, 3), (Opacities{1.0f, 0, 0.8f, 0}));
    EXPECT_EQ(strip.view.voiceLayers(3).cursor->position(), (Point{685, 0}));
    EXPECT_EQ(opacities(strip.view, 4), (Opacities{0, 0, 0, 0}));

    // A voice that changes mode keeps its bow cursor as it was outside bow mode.
    bow.setMode(Playhead::kSlicer);
    strip.view.update();
    EXPECT_EQ(opacities(strip.view, 2), (Opacities{0.25f, 0.25f, 0, 0}));

    // The changes are immediate even on layers already on screen.
    Renderer renderer;
    renderer.render(*strip.view.layer(), 1.0, strip.clock.now());
    strip.view.playheads()[1].setEnvelope(0.5);
    strip.view.update();
    EXPECT_EQ(strip.view.voiceLayers(1).cursor->presentationOpacity(strip.clock.now()), 0.5f);
    EXPECT_EQ(strip.view.voiceLayers(1).regionLayer->presentationOpacity(strip.clock.now()), 0.3f);
}

TEST(DisplayUpdate, VoicesSwitchOffOnlyWhenReleasedAndSilent) {
    Strip strip(685, 30);
    strip.load(test::snapshotOf(std::vector<float>(68500, 0.1f)));
    strip.view.update();

    Playhead& released = strip.startVoice(0, Playhead::kLooper, 100.0, 0.0001, kNoTouch);
    Playhead& held = strip.startVoice(1, Playhead::kTape, 100.0, 0.0);
    Playhead& fading = strip.startVoice(2, Playhead::kSlicer, 100.0, 0.3);
    fading.setFadeOut(true);

    strip.view.update();
    EXPECT_TRUE(released.active());  // not yet silent
    EXPECT_TRUE(held.active());      // silent, but its finger is down and no fade was asked
    EXPECT_TRUE(fading.active());

    released.setEnvelope(0.0);
    fading.setEnvelope(0.0);
    strip.view.update();
    EXPECT_FALSE(released.active());
    EXPECT_FALSE(fading.active());
    EXPECT_TRUE(held.active());
    // A bow voice's second cursor is left as it was by the call that switches it off, and
    // cleared by the next.
    Playhead& bow = strip.startVoice(3, Playhead::kBow, 100.0, 0.5, kNoTouch);
    strip.view.update();
    EXPECT_EQ(opacities(strip.view, 3).bowCursor, 0.5f);
    bow.setMode(Playhead::kSlicer);
    bow.setEnvelope(0.0);
    strip.view.update();
    EXPECT_FALSE(bow.active());
    EXPECT_EQ(opacities(strip.view, 3), (Opacities{0, 0.5f, 0, 0}));
    strip.view.update();
    EXPECT_EQ(opacities(strip.view, 3), (Opacities{0, 0, 0, 0}));

    // Held at envelope 0 in tape mode: cursor and bar at 0, still playing.
    EXPECT_EQ(opacities(strip.view, 1), (Opacities{0, 0, 0, 0}));
    EXPECT_TRUE(held.active());
}

TEST(DisplayUpdate, CursorsStayPutWhileNoFileIsLoaded) {
    // A load that failed after the fade-out began: the file's length is 0.
    Strip strip(685, 30);
    strip.load(test::snapshotOf(std::vector<float>(68500, 0.1f)));
    strip.view.update();
    Playhead& v = strip.startVoice(0, Playhead::kBow, 6850.0, 1.0);
    v.setBowPos(13700.0);
    strip.view.update();
    expectNear(strip.view.voiceLayers(0).cursor->position(), 68.5, 0);
    expectNear(strip.view.voiceLayers(0).bowCursor->position(), 137, 0);
    const Point cursor = strip.view.voiceLayers(0).cursor->position();
    const Point bowCursor = strip.view.voiceLayers(0).bowCursor->position();

    strip.load(std::make_unique<SampleSnapshot>());
    v.setPos(30000.0);
    v.setEnvelope(0.5);
    v.setFadeOut(true);
    strip.view.update();
    EXPECT_EQ(strip.view.voiceLayers(0).cursor->position(), cursor);
    EXPECT_EQ(strip.view.voiceLayers(0).bowCursor->position(), bowCursor);
    EXPECT_EQ(opacities(strip.view, 0), (Opacities{0.5f, 0.5f, 0, 0.3f}));
    v.setEnvelope(0.0);
    strip.view.update();
    EXPECT_FALSE(v.active());
}

TEST(DisplayUpdate, SliceFlashesDecayPerFrame) {
    Strip strip(685, 30);
    strip.load(test::snapshotOf(test::sine(44100, 100, 0.5f)));
    strip.view.update();
    strip.view.setNumSlices(4);
    Slice& slice = strip.view.slices()[1];
    const LayerPtr& highlight = strip.view.sliceLayers()[1].highlight;
    slice.highlightOpacity = 1.0f;  // as a slicer touch flashes it

    const float expected[] = {0.4185f, 0.3892f, 0.3620f};
    for (const float e : expected) {
        strip.view.update();
        EXPECT_NEAR(highlight->opacity(), e, 0.0001);
    }
    EXPECT_EQ(strip.view.sliceLayers()[0].highlight->opacity(), 0.0f);  // not flashed

    // Once the level is at or below 0.01 the layer keeps the last opacity it was given.
    int frames = 3;
    while (slice.highlightOpacity > 0.01f) {
        strip.view.update();
        ++frames;
    }
    EXPECT_EQ(frames, 64);
    const float last = highlight->opacity();
    EXPECT_NEAR(last, 0.45 * std::pow(0.93f, 63), 1e-4);
    for (int i = 0; i < 5; ++i) strip.view.update();
    EXPECT_EQ(highlight->opacity(), last);

    // A list rebuilt without being shown has no layers to flash: nothing breaks.
    strip.view.createSlices();
    strip.view.slices()[0].highlightOpacity = 1.0f;
    strip.view.update();
    EXPECT_NEAR(strip.view.slices()[0].highlightOpacity, 0.93f, 1e-6);
}

TEST(DisplayUpdate, OscilloscopeTracesTheLatestCapture) {
    Strip strip(1004, 30);
    strip.view.update();
    EXPECT_TRUE(strip.view.oscLayer()->path().isEmpty());  // no capture yet

    std::vector<float> left(1024, 0.0f), right(1024, 0.0f);
    left[0] = 1.0f;
    right[0] = 1.0f;  // a full-scale sum of 2.0 at the first point
    left[512] = -0.5f;
    right[1023] = 0.25f;
    strip.capture(left, right);
    strip.view.update();
    EXPECT_FALSE(strip.view.oscNewData());

    const Path& path = strip.view.oscLayer()->path();
    ASSERT_EQ(path.size(), 1024u);
    EXPECT_EQ(path.elements()[0].op, Path::Op::Move);
    EXPECT_EQ(path.elements()[0].points[0], (Point{0.0, 37.5}));
    EXPECT_EQ(path.elements()[1].op, Path::Op::Line);
    EXPECT_EQ(path.elements()[1].points[0], (Point{1004.0 / 1024.0, 15.0}));
    EXPECT_EQ(path.elements()[512].points[0], (Point{512 * 1004.0 / 1024.0, 15.0 - 5.625}));
    EXPECT_EQ(path.elements()[1023].points[0], (Point{1023.0 * 1004.0 / 1024.0, 15.0 + 2.8125}));

    // No new capture: the trace stays as drawn.
    strip.view.update();
    EXPECT_EQ(strip.view.oscLayer()->path().size(), 1024u);

    // While recording the trace is cleared and not redrawn; the capture waits and is drawn by
    // the first frame after.
    test::TempDir dir;
    auto source = std::make_unique<HandFedSource>();
    strip.view.setRecorder(std::make_unique<Recorder>(dir.path(), std::move(source)));
    strip.view.recordingStart();
    EXPECT_TRUE(strip.view.oscLayer()->path().isEmpty());
    strip.capture(std::vector<float>(1024, 0.1f), std::vector<float>(1024, 0.1f));
    strip.view.update();
    EXPECT_TRUE(strip.view.oscLayer()->path().isEmpty());
    strip.view.setRecording(false);  // as recordingEnd does first
    strip.view.update();
    ASSERT_EQ(strip.view.oscLayer()->path().size(), 1024u);
    EXPECT_FLOAT_EQ(strip.view.oscLayer()->path().elements()[5].points[0].y, 15.0f + 0.2f * 11.25f);
    strip.view.recorder().stop();

    // A capture flagged with no frames draws an empty trace.
    MainView fresh(strip.loop);
    fresh.layer()->setBounds(Rect::make(0, 0, 1004, 30));
    fresh.setOscNewData(true);
    fresh.update();
    EXPECT_TRUE(fresh.oscLayer()->path().isEmpty());
    EXPECT_FALSE(fresh.oscNewData());
}

TEST(DisplayUpdate, MeterGrowsWithTheInputLevelWhileRecording) {
    Strip strip(1004, 30);
    strip.view.update();
    test::TempDir dir;
    auto source = std::make_unique<HandFedSource>();
    HandFedSource* input = source.get();
    strip.view.setRecorder(std::make_unique<Recorder>(dir.path(), std::move(source)));
    strip.view.recordingStart();
    EXPECT_EQ(strip.view.meterLayer()->opacity(), 1.0f);

    auto diameter = [&] { return strip.view.meterLayer()->bounds().size.width; };
    strip.view.update();  // silence: 5 points
    EXPECT_NEAR(diameter(), 5.0, 0.001);
    input->feed(1.0f, 4410);  // full-scale square: 0 dB
    strip.view.update();
    EXPECT_NEAR(diameter(), 3005.0, 0.01);
    EXPECT_EQ(strip.view.meterLayer()->position(), (Point{502, 15}));
    EXPECT_EQ(strip.view.meterLayer()->bounds().size.height, diameter());
    EXPECT_EQ(strip.view.meterLayer()->cornerRadius(), diameter() * 0.5);
    input->feed(0.5f, 4410);  // half scale: about -6 dB
    strip.view.update();
    EXPECT_NEAR(diameter(), 1505.0, 0.5);

    // Not recording: the meter is left as it is.
    strip.view.setRecording(false);
    input->feed(1.0f, 4410);
    strip.view.update();
    EXPECT_NEAR(diameter(), 1505.0, 0.5);
    strip.view.recorder().stop();
}

TEST(DisplayUpdate, PresentationTimeTicksTheUpdate) {
    Strip strip(685, 30);
    strip.view.setPresentationTime(0.0);  // the stored value: nothing happens
    EXPECT_EQ(strip.view.touchBarSize().x, 0.0);
    strip.view.setPresentationTime(1.0);  // any other value updates
    EXPECT_EQ(strip.view.touchBarSize().x, 685.0);
    EXPECT_EQ(strip.view.presentationTime(), 0.0);

    Playhead& v = strip.startVoice(0, Playhead::kSlicer, 0.0, 0.0, kNoTouch);
    strip.view.setPresentationTime(0.0);
    EXPECT_TRUE(v.active());
    strip.view.setPresentationTime(2.0);
    EXPECT_FALSE(v.active());
}

TEST(DisplayUpdate, SteadyFramesAllocateNothing) {
    Strip strip(1085, 30);
    strip.load(test::snapshotOf(test::sine(48000, 100, 0.5f), test::sine(48000, 70, 0.5f)));
    strip.view.setNumSlices(8);
    strip.view.update();
    strip.view.setNumSlices(8);
    for (std::size_t i = 0; i < kVoiceCount; ++i) {
        strip.startVoice(i, static_cast<int>(i % 4), 300.0 * i, 0.5);
    }
    const auto wave = test::sine(1024, 64, 0.4f);
    strip.capture(wave, wave);
    strip.view.update();  // the trace's storage grows once

    test::RealtimeScope scope;
    for (int frame = 0; frame < 10; ++frame) {
        strip.view.slices()[frame % 8].highlightOpacity = 1.0f;
        strip.capture(wave, wave);
        strip.view.update();
    }
    EXPECT_EQ(scope.counts().allocations, 0u);
    EXPECT_EQ(strip.view.oscLayer()->path().size(), 1024u);
}
