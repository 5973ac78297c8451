#pragma once
// Where recorded audio comes from: the default input device, or a WAV file that tests and the
// headless renderer feed step by step. Every source delivers interleaved stereo float frames at
// 44,100 Hz to a sink.

#include <cstddef>

namespace vornik {

// Takes captured frames. The recorder is the one sink.
class CaptureSink {
public:
    // Takes `frames` interleaved stereo frames. Never allocates, locks, logs or waits.
    // Thread: capture (the device's audio thread, or whichever thread pumps a file source);
    // one capture thread at a time.
    virtual void captureFrames(const float* interleaved, std::size_t frames) noexcept = 0;

    // Frames that captureFrames can take now without dropping any. Thread: any.
    virtual std::size_t captureRoom() const noexcept = 0;

protected:
    ~CaptureSink() = default;
};

class CaptureSource {
public:
    virtual ~CaptureSource() = default;

    // Opens the input and begins delivering frames to `sink`. False, with a log line, when the
    // input cannot be opened. Thread: main.
    virtual bool start(CaptureSink& sink) = 0;

    // Stops delivering: when it returns, the sink is not called any more. Does nothing when not
    // started. Thread: main.
    virtual void stop() = 0;
};

}  // namespace vornik
