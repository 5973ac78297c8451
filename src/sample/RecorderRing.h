#pragma once
// A single-producer single-consumer ring of interleaved stereo float frames.
//
// The producer is the capture side (an audio thread): it only copies in. When the ring is full
// the frames that do not fit are dropped and counted; the producer never waits. The consumer
// (the recorder's writer thread) copies out. The storage is allocated once, in the constructor.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/Constants.h"

namespace vornik {

class FrameRing {
public:
    static constexpr int kChannels = kRecordingChannels;

    // Thread: main.
    explicit FrameRing(std::size_t capacityFrames);
    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;

    std::size_t capacity() const { return capacity_; }

    // Copies up to `frames` frames in; the rest are dropped and counted. Returns how many were
    // stored. Never allocates, locks or waits. Thread: the one producer.
    std::size_t push(const float* interleaved, std::size_t frames) noexcept;
    // The same from two planes, interleaved on the way in.
    std::size_t pushPlanar(const float* left, const float* right, std::size_t frames) noexcept;

    // Frames the producer can store now (exact on the producer, a lower bound elsewhere).
    // Thread: any.
    std::size_t writableFrames() const noexcept;

    // Copies up to `maxFrames` frames out, oldest first. Returns how many. Thread: the one
    // consumer.
    std::size_t pop(float* interleaved, std::size_t maxFrames) noexcept;

    // Frames waiting to be popped (exact on the consumer, a lower bound elsewhere). Thread: any.
    std::size_t readableFrames() const noexcept;

    // Frames dropped since the last reset. Thread: any.
    std::uint64_t droppedFrames() const noexcept {
        return dropped_.load(std::memory_order_relaxed);
    }

    // Empties the ring and zeroes the drop count. Thread: main, while neither side runs.
    void reset() noexcept;

private:
    // Room for up to `frames`, counting what does not fit as dropped: the stored count and start.
    std::size_t reserve(std::size_t frames, std::uint64_t& writeCount) noexcept;

    std::unique_ptr<float[]> data_;
    std::size_t capacity_;
    // Frame counters that only grow; their difference is the fill. Apart, so the two sides do
    // not share a cache line.
    alignas(64) std::atomic<std::uint64_t> writeCount_{0};
    alignas(64) std::atomic<std::uint64_t> readCount_{0};
    alignas(64) std::atomic<std::uint64_t> dropped_{0};

    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
};

}  // namespace vornik
