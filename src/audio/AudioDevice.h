#pragma once
// The sound card, through SDL2 audio: the only place that talks to SDL's audio. It asks for
// 48,000 Hz, float32, 2 channels and 64-frame buffers, lets SDL pick its driver (SDL_AUDIODRIVER
// is respected) and lets the device grant another buffer size, which it logs once per opening.
// Its callback pulls the graph. A device that cannot be opened is logged; the instrument runs on
// without sound, and a later reopen (the route changed) tries again.

#include <cstdint>

#include "audio/AudioGraph.h"
#include "base/Constants.h"
#include "audio/OutputDevice.h"

namespace vornik {

class AudioDevice final : public OutputDevice {
public:
    // `bufferFrames`: the buffer asked of the device (the instrument's 64 unless the user chose
    // another: fewer wake-ups for more latency).
    explicit AudioDevice(AudioGraph& graph, int bufferFrames = kRequestedBlockFrames);
    ~AudioDevice() override;
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    // Opens the default output and starts pulling the graph (prepared before). True on success;
    // otherwise a log line and false. Thread: main.
    bool open() override;
    // Stops the callback (waits for a running one to end) and closes. Thread: main.
    void close() override;
    // Closes and opens the default output again, same graph and settings: the default output
    // went away or changed. Thread: main.
    bool reopen() override;

    bool isOpen() const override { return device_ != 0; }
    int bufferFrames() const override { return bufferFrames_; }  // granted; 0 when closed
    double sampleRate() const override { return isOpen() ? kOutputSampleRate : 0.0; }

    // The callback's work: renders `frames` stereo frames into SDL's interleaved buffer, in
    // blocks of the graph's size, whatever the count. Never allocates, locks or waits.
    // Thread: audio.
    void fill(float* interleaved, int frames);

private:
    static void callback(void* self, std::uint8_t* stream, int bytes);

    AudioGraph& graph_;
    std::uint32_t device_ = 0;
    bool subsystemStarted_ = false;
    int requestedFrames_;
    int bufferFrames_ = 0;
    float scratchL_[AudioGraph::kBlockFrames] = {};
    float scratchR_[AudioGraph::kBlockFrames] = {};
};

}  // namespace vornik
