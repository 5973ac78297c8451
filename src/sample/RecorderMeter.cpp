#include "sample/RecorderMeter.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace vornik {

void RecorderMeter::add(const float* interleaved, std::size_t frames) noexcept {
    if (frames == 0) return;
    double block[kRecordingChannels] = {};
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < kRecordingChannels; ++c) {
            const double x = interleaved[i * kRecordingChannels + c];
            block[c] += x * x;
        }
    }
    for (double s : block) {
        if (!std::isfinite(s)) return;
    }
    // Odd while a write is under way. The release stores keep the odd count ahead of the data
    // for a reader that sees any of it; no fences, which ThreadSanitizer cannot follow.
    const std::uint64_t seq = sequence_.load(std::memory_order_relaxed);
    sequence_.store(seq + 1, std::memory_order_relaxed);
    for (int c = 0; c < kRecordingChannels; ++c) {
        sumSquares_[c].store(sumSquares_[c].load(std::memory_order_relaxed) + block[c],
                             std::memory_order_release);
    }
    frames_.store(frames_.load(std::memory_order_relaxed) + frames, std::memory_order_release);
    sequence_.store(seq + 2, std::memory_order_release);
}

RecorderMeter::Totals RecorderMeter::read() const noexcept {
    for (;;) {
        const std::uint64_t before = sequence_.load(std::memory_order_acquire);
        if ((before & 1) != 0) {
            std::this_thread::yield();
            continue;
        }
        // Acquire loads keep the second look at the count behind the data.
        Totals t;
        for (int c = 0; c < kRecordingChannels; ++c) {
            t.sumSquares[c] = sumSquares_[c].load(std::memory_order_acquire);
        }
        t.frames = frames_.load(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) == before) return t;
    }
}

void RecorderMeter::reset() noexcept {
    sequence_.store(0, std::memory_order_relaxed);
    for (auto& s : sumSquares_) s.store(0.0, std::memory_order_relaxed);
    frames_.store(0, std::memory_order_relaxed);
    seen_ = Totals{};
    std::fill(std::begin(readings_), std::end(readings_), kFloorDb);
}

void RecorderMeter::update() noexcept {
    const Totals now = read();
    if (now.frames == seen_.frames) return;
    const auto frames = static_cast<double>(now.frames - seen_.frames);
    for (int c = 0; c < kRecordingChannels; ++c) {
        // A difference of totals can come out a hair below zero; that is silence.
        const double sum = std::max(0.0, now.sumSquares[c] - seen_.sumSquares[c]);
        readings_[c] = powerToDb(sum / frames);
    }
    seen_ = now;
}

float RecorderMeter::averagePower(int channel) const noexcept {
    if (channel < 0 || channel >= kRecordingChannels) return kFloorDb;
    return readings_[channel];
}

float RecorderMeter::powerToDb(double meanSquare) noexcept {
    if (!(meanSquare > 0.0)) return kFloorDb;
    const double db = 10.0 * std::log10(meanSquare);
    return static_cast<float>(
        std::clamp(db, static_cast<double>(kFloorDb), static_cast<double>(kFullScaleDb)));
}

}  // namespace vornik
