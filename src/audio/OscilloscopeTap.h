#pragma once
// Hands 1024-frame captures of the final mix from the audio thread to the main thread without a
// lock: a triple buffer. The writer fills its own slot and swaps it with the middle one; the
// reader swaps the middle one for its own when a fresh capture waits there. Neither side ever
// touches the other's slot, and the reader always gets the newest complete capture.

#include <array>
#include <atomic>

#include "base/Constants.h"

namespace vornik {

class OscilloscopeTap {
public:
    static constexpr int kFrames = kOscilloscopeFrames;

    // Appends rendered frames; every kFrames completed frames become one capture.
    // Thread: audio (one writer).
    void write(const float* left, const float* right, int frames);

    // Copies the newest capture not taken yet into `left` and `right` (kFrames each) and answers
    // true; false, with nothing copied, when none waits. Thread: main (one reader).
    bool take(float* left, float* right);

private:
    static constexpr int kFresh = 4;  // flag beside the slot index in middle_

    struct Slot {
        std::array<float, kFrames> left{};
        std::array<float, kFrames> right{};
    };

    std::array<Slot, 3> slots_;
    std::atomic<int> middle_{2};
    int writing_ = 0;  // audio thread
    int filled_ = 0;   // audio thread: frames of the slot being written
    int reading_ = 1;  // main thread
};

}  // namespace vornik
