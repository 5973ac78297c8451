// Midi/noteToVoice: a note-on queued as the MIDI callback queues it, then drained by the main
// loop (parser, notes to fingers, the slicer's touch handler) until its voice is switched on.
// Manual time: only that stretch counts, not the note-off and the reset between iterations.
// Target: 1 ms, so that MIDI latency is the audio buffer's, not the main loop's.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "display/MainView.h"
#include "display/Transaction.h"
#include "midi/MidiInput.h"

using namespace vornik;

namespace {

void noteToVoice(benchmark::State& state) {
    ManualClock clock;
    ScopedLayerClock layerClock{clock};
    RunLoop loop{clock};
    MainView view{loop};
    view.layer()->setBounds(Rect::make(0, 0, 1085, 30));
    constexpr std::uint32_t kFrames = 48000 * 10;
    std::shared_ptr<float[]> planes(new float[2 * kFrames]());
    view.mixer().sample().publish(makeLoadedSnapshot(planes, kFrames, 2, 48000.0));
    view.update();
    view.setNumSlices(16);
    view.showSlices();

    MidiMap map;
    MidiPerformer performer(map);
    performer.setInstrument(&view);
    MidiInput input(performer);
    MidiQueue& queue = input.addSource();
    std::uint8_t note = 36;
    for (auto _ : state) {
        const std::uint8_t on[] = {0x90, note, 0x64}, off[] = {0x80, note, 0x00};
        const auto start = std::chrono::steady_clock::now();
        queue.push(0.0, on, 3);
        input.drain();
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        if (!view.playheads()[0].active()) state.SkipWithError("the note started no voice");
        queue.push(0.0, off, 3);
        input.drain();
        for (Playhead& p : view.playheads()) p.setActive(false);
        note = static_cast<std::uint8_t>(36 + (note - 35) % 16);
    }
}

}  // namespace

BENCHMARK(noteToVoice)->Name("Midi/noteToVoice")->UseManualTime()->Unit(benchmark::kMicrosecond);
