#pragma once
// MIDI that arrives with the audio (a JACK MIDI port), handed on from the audio thread with its
// time. The app connects it to the MIDI layer; the audio backends only deliver.

#include <cstddef>
#include <cstdint>

namespace vornik {

class MidiEventSink {
public:
    // One message as it arrived: its bytes, `frame`, the graph's 48 kHz frame it belongs to
    // (frames the graph rendered before it, in the block being rendered: a constant one-period
    // latency), and `seconds` on the steady clock. Never allocates, locks, logs or waits.
    // Thread: audio.
    virtual void midiEvent(const std::uint8_t* bytes, std::size_t size, std::uint64_t frame,
                           double seconds) noexcept = 0;

protected:
    ~MidiEventSink() = default;
};

}  // namespace vornik
