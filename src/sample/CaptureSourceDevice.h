#pragma once
// The default audio input through SDL2 capture: 44,100 Hz, 2 channels, float32 (SDL converts
// whatever the hardware gives). The only recorder class that talks to SDL.

#include <cstdint>

#include "sample/CaptureSource.h"

namespace vornik {

class DeviceCaptureSource final : public CaptureSource {
public:
    // Frames per capture callback that we ask SDL for (about 12 ms).
    static constexpr int kCaptureBlockFrames = 512;

    DeviceCaptureSource() = default;
    ~DeviceCaptureSource() override;
    DeviceCaptureSource(const DeviceCaptureSource&) = delete;
    DeviceCaptureSource& operator=(const DeviceCaptureSource&) = delete;

    bool start(CaptureSink& sink) override;  // Thread: main
    void stop() override;                    // Thread: main

    // The device callback: hands SDL's interleaved float bytes to the sink in `userdata` (a
    // CaptureSink*). Copies only. Thread: audio (public so tests can call it directly).
    static void audioCallback(void* userdata, std::uint8_t* stream, int length) noexcept;

private:
    std::uint32_t device_ = 0;  // SDL_AudioDeviceID, 0 when closed
    bool audioInitialised_ = false;
};

}  // namespace vornik
