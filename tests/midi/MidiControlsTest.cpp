// Controllers on the window's real controls: the default map, MIDI learn and the map's file.

#include <filesystem>
#include <fstream>

#include "app/ControlsTestSupport.h"
#include "app/MidiHost.h"
#include "app/WindowController.h"
#include "audio/AudioConstants.h"
#include "base/Status.h"
#include "display/Transaction.h"
#include "midi/MidiTestSupport.h"
#include "support/Files.h"
#include "support/LogLines.h"
#include "support/SampleFixtures.h"

using namespace vornik;
namespace fs = std::filesystem;

namespace {

struct Host {
    test::TempDir dir;
    fs::path conf = dir / "vornik" / "midi.conf";
    ManualClock clock;
    RunLoop loop{clock};
    ScopedLayerClock layerClock{clock};
    WindowController controller{loop, ""};
    std::unique_ptr<MidiHost> midi;
    std::vector<std::string> status;
    StatusSink sink{[this](const std::string& s, StatusKind) { status.push_back(s); }};

    Host() {
        controller.makeTouchBar();
        controller.stripLayer(Size{1085, 30});
        MainView& view = *controller.mainView();
        view.mixer().sample().publish(test::snapshotOf(std::vector<float>(48000, 0.25f)));
        view.update();  // measures the strip
        midi = std::make_unique<MidiHost>(loop, controller, conf);
        loop.advance(clock, 0.6);  // the transpose stepper listens from now on
    }
    void send(const std::string& text) {
        const auto bytes = test::midiBytes(text);
        midi->feed(bytes.data(), bytes.size(), clock.now());
    }
    double middleOf(const char* identifier) {
        controller.stripLayer(Size{1085, 30});
        for (const auto& item : controller.mainBar()->items()) {
            if (item->identifier() == identifier) return item->frame().midX();
        }
        return -1.0;
    }
    double border(const char* identifier) {
        return controller.makeItemForIdentifier(identifier)->layer()->borderWidth();
    }
};

}  // namespace

TEST(MidiControls, TheDefaultMapMovesControlsLearnBindsAndTheMapIsKept) {
    Host h;
    MainView& view = *h.controller.mainView();
    h.send("B0 49 7F, B0 48 40, B0 4A 40, B0 5B 7F, B0 0D 7F, B0 0F 7F, B2 0E 7F");
    EXPECT_DOUBLE_EQ(view.attack(), 1.005);
    EXPECT_NEAR(view.decay(), 5.0 * std::pow(64 / 127.0, 3) + 0.005, 1e-12);
    EXPECT_TRUE(view.lowpassBypass() && view.highpassBypass());  // 64: no filter
    EXPECT_FLOAT_EQ(view.reverbWetDryMix(), 100.0f);
    EXPECT_FLOAT_EQ(view.delayFeedback(), 100.0f);
    EXPECT_EQ(view.transpose(), 24);
    EXPECT_EQ(h.controller.transposeStepper()->label(), "+24");
    EXPECT_EQ(view.numSlices(), 16);  // any channel
    h.send("B0 4A 00");
    EXPECT_FALSE(view.lowpassBypass());
    const double before = view.delayTime();
    h.send("B0 0C 7F");  // the delay time follows once the knob rests, as the slider's does
    EXPECT_EQ(view.delayTime(), before);
    h.loop.advance(h.clock, 0.2);
    EXPECT_NEAR(view.delayTime(), 2.0 + audio::kDelayShortest, 1e-9);

    // A program change chooses the mode; the strip stays on its bar, the selector follows.
    h.send("C0 02");
    EXPECT_EQ(view.playMode(), 2);
    EXPECT_EQ(h.controller.currentBar(), 0);
    EXPECT_EQ(h.controller.modeSegments()->selectedSegment(), 2);
    h.send("C0 09");
    EXPECT_EQ(view.playMode(), 2);

    // Notes play while a control bar shows.
    h.controller.showBar(1);
    h.send("90 24 7F");
    EXPECT_EQ(view.activePlayheads(), 1);
    // Learn binds the next controller, and the map is kept.
    Host learn;
    learn.controller.showBar(1);
    EXPECT_EQ(learn.midi->controlAt(learn.middleOf(items::kAttack)), "attack");
    EXPECT_EQ(learn.midi->controlAt(learn.middleOf(items::kDisabledStepper2)), "");
    learn.midi->arm("attack");
    EXPECT_EQ(learn.border(items::kAttack), midilearn::kBorderWidth);
    learn.send("B0 40 7F, B0 14 7F");  // the pedal is not learnt; controller 20 is
    EXPECT_EQ(learn.border(items::kAttack), 0.0);
    EXPECT_EQ(learn.midi->map().control(20), "attack");
    EXPECT_DOUBLE_EQ(learn.controller.attackSlider()->doubleValue(), 1.0);
    EXPECT_EQ(learn.status.back(), "MIDI controller 20 now moves attack");

    // Escape cancels; a right-click on the armed control again disarms it too.
    learn.midi->arm("decay");
    EXPECT_TRUE(learn.midi->cancelLearn());
    EXPECT_FALSE(learn.midi->cancelLearn());
    learn.midi->arm("reverb");
    learn.midi->arm("reverb");
    learn.send("B0 15 7F");
    EXPECT_EQ(learn.midi->map().control(21), "");
    EXPECT_EQ(learn.border(items::kDecay) + learn.border(items::kReverb), 0.0);

    // Two fingers held on a control arm it; a finger that wanders does not.
    const double x = learn.middleOf(items::kDecay);
    learn.midi->stripTouch(TouchPhase::Began, test::at(1, x));
    learn.midi->stripTouch(TouchPhase::Began, test::at(2, x + 5));
    learn.midi->stripTouch(TouchPhase::Moved, test::at(2, x + 40));
    learn.loop.advance(learn.clock, 1.0);
    EXPECT_EQ(learn.midi->map().armed(), "");
    learn.midi->stripTouch(TouchPhase::Ended, test::at(2, x));
    learn.midi->stripTouch(TouchPhase::Began, test::at(3, x - 5));
    learn.loop.advance(learn.clock, 1.0);
    EXPECT_EQ(learn.midi->map().armed(), "decay");

    // The file: read back as written, the defaults with the learnt binding.
    MidiMap read;
    read.bind(73, "");
    ASSERT_TRUE(read.load(learn.conf));
    EXPECT_EQ(read.text(), learn.midi->map().text());
    EXPECT_EQ(read.control(73) + read.control(20), "attackattack");

    // Broken lines are logged and skipped; the file is the whole map.
    std::ofstream(learn.conf) << "cc 20 attack\ncc 300 decay\nnote 1 2\ncc 21 wobble\ncc 64 decay\n"
                                 "cc 22 reverb extra\n  # a comment\ncc 23 filter # knob 4\n";
    test::LogLines log;
    ASSERT_TRUE(read.load(learn.conf));
    ASSERT_EQ(log.lines.size(), 5u);
    EXPECT_NE(log.lines[0].find("midi.conf:2: not a MIDI binding"), std::string::npos);
    EXPECT_EQ(read.control(20) + read.control(23) + read.control(73), "attackfilter");
}
