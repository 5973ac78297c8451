#pragma once
// MIDI that arrives with the audio (a JACK MIDI port), handed on from the audio thread with its
// time. The app connects it to the MIDI layer; the audio backends only deliver.

#include <cstddef>
#include <cstdint>

namespace vornik {

class MidiEventSink {
public:
    // One message as it arrived: its bytes, `frame`, the graph frame (AudioGraph::framesRendered's
    // clock) it is due at, and `seconds` on the steady clock when it arrived. The due frame is its
    // moment in the period it arrived with, a constant latency later: one period, and time enough
    // for the main thread to act on it. Never allocates, locks, logs or waits. Thread: audio.
    virtual void midiEvent(const std::uint8_t* bytes, std::size_t size, std::uint64_t frame,
                           double seconds) noexcept = 0;

protected:
    ~MidiEventSink() = default;
};

}  // namespace vornik
