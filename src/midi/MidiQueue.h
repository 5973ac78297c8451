#pragma once
// The hand-over from a MIDI source's thread to the main thread: a lock-free single-producer,
// single-consumer ring of packets, and a wake-up for the main loop. Each producing thread (RtMidi's
// callback, a JACK process callback) has a queue of its own.
//
// Thread: push from the one producer thread; pop and takeWake from the main thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "midi/MidiMessage.h"

namespace vornik {

class MidiQueue {
public:
    static constexpr std::size_t kCapacity = 1024;  // packets; a power of two

    // `wake` runs on the producer's thread after a push found the main loop not yet woken; it
    // returns false when it could not wake it (then the next push tries again). It must suit the
    // producer: a real-time producer passes none and the main loop drains on its own.
    explicit MidiQueue(std::function<bool()> wake = {}) : wake_(std::move(wake)) {}
    MidiQueue(const MidiQueue&) = delete;
    MidiQueue& operator=(const MidiQueue&) = delete;

    // Queues one message as the source delivered it. SysEx and single real-time bytes (clock,
    // sensing) are dropped here at no cost; a longer message goes as packets of three bytes.
    // Never allocates, locks or waits. False when the ring was full (the message is dropped and
    // counted). Thread: the producer.
    // `frame`: the mixer frame the message is due at, from a source that keeps time with the
    // audio (0: when handled).
    bool push(double time, const std::uint8_t* bytes, std::size_t size, std::uint64_t frame = 0);

    // The oldest packet, if any. Thread: main.
    bool pop(MidiPacket& out);
    // Clears the wake-up flag: call before popping, so a push after it wakes the loop again.
    // Thread: main.
    void takeWake() { wakePending_.store(false); }
    // Messages dropped because the ring was full. Thread: any.
    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    std::function<bool()> wake_;
    MidiPacket ring_[kCapacity];
    alignas(64) std::atomic<std::size_t> head_{0};  // next slot to write; the producer's
    alignas(64) std::atomic<std::size_t> tail_{0};  // next slot to read; the consumer's
    std::atomic<bool> wakePending_{false};
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace vornik
