#pragma once
// The recorder's level meter: average power per channel in dB relative to full scale, over the
// audio captured between two updates.
//
// The capture thread adds each block's sum of squares to running totals that only it writes,
// published under a sequence count (a seqlock: the writer never waits, the reader retries the
// rare read that overlapped a write). An update on the main thread takes the difference from the
// totals it saw last time. The totals restart with every recording, so doubles keep far more
// precision than the meter shows.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/Constants.h"

namespace vornik {

class RecorderMeter {
public:
    static constexpr float kFloorDb = -160.0f;  // silence, and any channel without audio
    static constexpr float kFullScaleDb = 0.0f;

    // Adds `frames` interleaved stereo frames. A block with a value that is not finite is left
    // out, so one bad sample cannot poison the meter. Thread: capture.
    void add(const float* interleaved, std::size_t frames) noexcept;

    // Restarts the totals and reads the floor. Thread: main, while no capture runs.
    void reset() noexcept;

    // Takes the audio added since the previous update. With no audio since then, the readings
    // stay as they were. Thread: main.
    void update() noexcept;

    // The reading of the last update, in dB: kFloorDb to kFullScaleDb (0 for a full-scale
    // square wave, about -3 for a full-scale sine). A channel other than 0 or 1 reads the floor.
    // Thread: main.
    float averagePower(int channel) const noexcept;

    // Average power (mean square) as dB, clamped to the meter's range. Thread: any.
    static float powerToDb(double meanSquare) noexcept;

private:
    struct Totals {
        double sumSquares[kRecordingChannels] = {};
        std::uint64_t frames = 0;
    };
    Totals read() const noexcept;

    // Written by the capture thread only.
    std::atomic<std::uint64_t> sequence_{0};
    std::atomic<double> sumSquares_[kRecordingChannels] = {};
    std::atomic<std::uint64_t> frames_{0};

    // Main thread only.
    Totals seen_;
    float readings_[kRecordingChannels] = {kFloorDb, kFloorDb};

    static_assert(std::atomic<double>::is_always_lock_free);
};

}  // namespace vornik
