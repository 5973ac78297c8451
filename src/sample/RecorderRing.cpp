#include "sample/RecorderRing.h"

#include <algorithm>
#include <cstring>

namespace vornik {

FrameRing::FrameRing(std::size_t capacityFrames)
    : data_(new float[std::max<std::size_t>(capacityFrames, 1) * kChannels]),
      capacity_(std::max<std::size_t>(capacityFrames, 1)) {}

std::size_t FrameRing::reserve(std::size_t frames, std::uint64_t& w) noexcept {
    w = writeCount_.load(std::memory_order_relaxed);
    const std::uint64_t r = readCount_.load(std::memory_order_acquire);
    const std::size_t room = capacity_ - static_cast<std::size_t>(w - r);
    const std::size_t n = std::min(frames, room);
    if (n < frames) dropped_.fetch_add(frames - n, std::memory_order_relaxed);
    return n;
}

std::size_t FrameRing::push(const float* interleaved, std::size_t frames) noexcept {
    std::uint64_t w = 0;
    const std::size_t n = reserve(frames, w);
    if (n > 0) {
        const std::size_t start = static_cast<std::size_t>(w % capacity_);
        const std::size_t first = std::min(n, capacity_ - start);
        std::memcpy(data_.get() + start * kChannels, interleaved,
                    first * kChannels * sizeof(float));
        std::memcpy(data_.get(), interleaved + first * kChannels,
                    (n - first) * kChannels * sizeof(float));
        writeCount_.store(w + n, std::memory_order_release);
    }
    return n;
}

std::size_t FrameRing::pushPlanar(const float* left, const float* right,
                                  std::size_t frames) noexcept {
    std::uint64_t w = 0;
    const std::size_t n = reserve(frames, w);
    std::size_t at = static_cast<std::size_t>(w % capacity_);
    for (std::size_t i = 0; i < n; ++i) {
        data_[at * kChannels] = left[i];
        data_[at * kChannels + 1] = right[i];
        if (++at == capacity_) at = 0;
    }
    if (n > 0) writeCount_.store(w + n, std::memory_order_release);
    return n;
}

std::size_t FrameRing::writableFrames() const noexcept {
    // Off the producer, the consumer may move between the two loads: clamp the fill.
    const std::uint64_t w = writeCount_.load(std::memory_order_acquire);
    const std::uint64_t r = readCount_.load(std::memory_order_acquire);
    const std::uint64_t fill = r > w ? 0 : w - r;
    return capacity_ - static_cast<std::size_t>(std::min<std::uint64_t>(fill, capacity_));
}

std::size_t FrameRing::pop(float* interleaved, std::size_t maxFrames) noexcept {
    const std::uint64_t r = readCount_.load(std::memory_order_relaxed);
    const std::uint64_t w = writeCount_.load(std::memory_order_acquire);
    const std::size_t n = std::min(maxFrames, static_cast<std::size_t>(w - r));
    if (n > 0) {
        const std::size_t start = static_cast<std::size_t>(r % capacity_);
        const std::size_t first = std::min(n, capacity_ - start);
        std::memcpy(interleaved, data_.get() + start * kChannels,
                    first * kChannels * sizeof(float));
        std::memcpy(interleaved + first * kChannels, data_.get(),
                    (n - first) * kChannels * sizeof(float));
        readCount_.store(r + n, std::memory_order_release);
    }
    return n;
}

std::size_t FrameRing::readableFrames() const noexcept {
    // Read first, so the write count can only be newer (never behind it).
    const std::uint64_t r = readCount_.load(std::memory_order_acquire);
    const std::uint64_t w = writeCount_.load(std::memory_order_acquire);
    return static_cast<std::size_t>(std::min<std::uint64_t>(w - r, capacity_));
}

void FrameRing::reset() noexcept {
    writeCount_.store(0, std::memory_order_relaxed);
    readCount_.store(0, std::memory_order_relaxed);
    dropped_.store(0, std::memory_order_relaxed);
}

}  // namespace vornik
