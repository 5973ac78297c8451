#include "midi/MidiInput.h"
#include "midi/MidiTestSupport.h"
#include "performance/TouchTestSupport.h"

using namespace vornik;

namespace {

// Every voice switched on: "mode held|free start..end amp rate".
std::string voices(MainView& view) {
    std::string out;
    for (const Playhead& v : view.playheads()) {
        if (!v.active()) continue;
        char s[96];
        std::snprintf(s, sizeof s, "%s%s %s %.6g..%.6g %.4g %.4g", out.empty() ? "" : "; ",
                      test::Instrument::kModes[v.mode() & 3].data(),
                      v.touchid() != kNoTouch ? "held" : "free", v.frameStart(), v.frameEnd(),
                      v.amp(), v.rate());
        out += s;
    }
    return out;
}

}  // namespace

TEST(MidiPerformer, NotesPlayEveryModeAsFingers) {
    const struct {
        int mode, channel;
        const char* midi;
        const char* voices;
    } cases[] = {
        // Four slices of 48000 frames: note 36 is slice 1, velocity sets the amplitude.
        {0, 0, "90 24 7F", "slicer held 0..12000 0.95 1"},
        {0, 0, "90 25 40", "slicer held 12000..24000 0.7268 1"},
        {0, 0, "90 27 01", "slicer held 36000..48000 0.5035 1"},
        {0, 0, "90 23 7F, 90 28 7F", ""},  // below the first note, past the last slice
        {0, 0, "90 24 7F, 80 24 00", "slicer free 0..12000 0.95 1"},
        {0, 0, "90 24 7F, 90 24 00", "slicer free 0..12000 0.95 1"},  // velocity 0 lifts
        // Other modes: 16 zones, note 36 + k at the centre of zone k.
        {2, 0, "90 24 40, 90 33 40", "bow held 1500..1500 0.9 1; bow held 46500..46500 0.9 1"},
        {2, 0, "90 34 40", ""},
        {3, 0, "90 2C 40", "tape held 0..48000 0.9 0.125"},
        {1, 0, "90 28 7F, 90 2C 7F", "looper held 13500..25500 0.9 1"},
        // The lower note lifts: the loop ends and the upper waits for a new partner.
        {1, 0, "90 28 7F, 90 2C 7F, 80 28 00, 90 24 7F",
         "looper free 13500..25500 0.9 1; looper held 1500..25500 0.9 1"},
        // The pedal keeps lifted notes down until it comes up; a note struck again restarts.
        {2, 0, "B0 40 7F, 90 24 7F, 80 24 00", "bow held 1500..1500 0.9 1"},
        {2, 0, "B0 40 7F, 90 24 7F, 80 24 00, B0 40 3F", "bow free 1500..1500 0.9 1"},
        {2, 0, "B0 40 7F, 90 24 7F, 80 24 00, 90 24 7F",
         "bow free 1500..1500 0.9 1; bow held 1500..1500 0.9 1"},
        // All notes off and all sound off lift held and pedalled notes alike.
        {2, 0, "B0 40 7F, 90 24 7F, 80 24 00, 90 25 7F, B0 7B 00",
         "bow free 1500..1500 0.9 1; bow free 4500..4500 0.9 1"},
        {2, 0, "90 24 7F, B0 78 00", "bow free 1500..1500 0.9 1"},
        // One channel heard: the other's notes and pedal do nothing.
        {2, 2, "90 24 7F, 91 25 7F, B0 40 7F, 81 25 00", "bow free 4500..4500 0.9 1"},
    };
    for (const auto& c : cases) {
        test::Instrument in(c.mode, 48000);
        in.slice(4);
        MidiMap map;
        MidiPerformer performer(map);
        performer.setInstrument(&in.view);
        performer.setChannel(c.channel);
        MidiInput input(performer);
        const auto bytes = test::midiBytes(c.midi);
        input.feed(bytes.data(), bytes.size(), 0.0);
        EXPECT_EQ(voices(in.view), c.voices) << c.midi;
    }
}

TEST(MidiPerformer, TimedNotesKeepTheirFramesEvenWhenShorterThanTheWait) {
    test::Instrument in(2, 48000);
    MidiMap map;
    MidiPerformer performer(map);
    performer.setInstrument(&in.view);
    MidiInput input(performer);
    MidiQueue& queue = input.addSource();
    const auto on = test::midiBytes("90 24 7F"), off = test::midiBytes("80 24 00");
    queue.push(0.0, on.data(), on.size(), 5000);
    queue.push(0.0, off.data(), off.size(), 5100);
    input.drain();
    const Playhead& v = in.view.playheads()[0];
    EXPECT_EQ(v.startFrame(), 5000u);
    EXPECT_EQ(v.releaseFrame(), 5100u);
    in.view.update();  // lifted and silent, but its frames are still to come
    EXPECT_TRUE(v.active());
    // A note without a frame (a hardware port's) plays at once.
    input.feed(on.data(), on.size(), 0.0);
    EXPECT_EQ(in.view.playheads()[1].startFrame(), 0u);
}
