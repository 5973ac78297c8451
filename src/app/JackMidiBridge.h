#pragma once
// JACK's midi_in into the MIDI layer: the process callback queues each message (lock-free) on a
// source of its own, with the frame it is due at, and posts a waker, whose thread calls `notify`
// at once (the program pushes an SDL event, and the main loop drains the MIDI input). The voice
// a note starts waits in the mixer for its frame, so notes keep the spacing they were played
// with. Thread: main, unless a call says otherwise.

#include <functional>

#include "app/MainLoopWaker.h"
#include "audio/MidiEventSink.h"
#include "midi/MidiInput.h"

namespace vornik {

class JackMidiBridge final : public MidiEventSink {
public:
    // Adds a source to `input`, which must outlive this bridge. `notify` runs on the waker's
    // thread: it must only hand over to the main thread.
    JackMidiBridge(MidiInput& input, std::function<void()> notify);

    // Thread: audio.
    void midiEvent(const std::uint8_t* bytes, std::size_t size, std::uint64_t frame,
                   double seconds) noexcept override;

private:
    MainLoopWaker waker_;
    MidiQueue& queue_;
};

}  // namespace vornik
