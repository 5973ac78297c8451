#pragma once
// Rate conversion at the edges of the graph, with libsamplerate: the graph always runs at 48 kHz
// (its envelopes, end zones and effects are written in 48 kHz frames), and a sound server may run
// at another rate. Output: the graph pulled at 48 kHz, converted to the server's rate. Capture:
// the server's input converted to the 44.1 kHz of a take. Each ratio is fixed once prepared.

#include <string>
#include <vector>

#include "audio/AudioGraph.h"

struct SRC_STATE_tag;

namespace vornik {

class CaptureSink;

class OutputRateConverter {
public:
    static constexpr int kChunkFrames = 1024;  // output frames converted per libsamplerate call

    OutputRateConverter() = default;
    ~OutputRateConverter();
    OutputRateConverter(const OutputRateConverter&) = delete;
    OutputRateConverter& operator=(const OutputRateConverter&) = delete;

    // Pulls `graph` for an output at `outputRate`: straight through at 48 kHz, converted
    // otherwise. False, with the reason in `error`, when no converter can be made. Allocates.
    // Thread: main, while nothing renders.
    bool prepare(AudioGraph& graph, double outputRate, std::string* error = nullptr);
    bool converting() const { return state_ != nullptr; }
    double outputRate() const { return outputRate_; }

    // `frames` frames at the output rate into two planes, any count, pulling the graph in its
    // 64-frame blocks. Silence before prepare. Never allocates, locks or waits. Thread: audio.
    void render(float* left, float* right, int frames) noexcept;

private:
    static long pull(void* self, float** data);

    AudioGraph* graph_ = nullptr;
    SRC_STATE_tag* state_ = nullptr;
    double ratio_ = 1.0;
    double outputRate_ = 0.0;
    float blockLeft_[AudioGraph::kBlockFrames] = {};
    float blockRight_[AudioGraph::kBlockFrames] = {};
    float block_[2 * AudioGraph::kBlockFrames] = {};
    std::vector<float> converted_;  // interleaved, kChunkFrames
};

class CaptureRateConverter {
public:
    static constexpr int kChunkFrames = 1024;  // input frames converted per libsamplerate call

    CaptureRateConverter() = default;
    ~CaptureRateConverter();
    CaptureRateConverter(const CaptureRateConverter&) = delete;
    CaptureRateConverter& operator=(const CaptureRateConverter&) = delete;

    // Takes input at `inputRate` to the recording rate (44.1 kHz); straight through at that
    // rate. False, with the reason in `error`, when no converter can be made. Allocates.
    // Thread: main, while nothing captures.
    bool prepare(double inputRate, std::string* error = nullptr);

    // Forgets the previous take's tail. Thread: capture.
    void reset() noexcept;
    // Converts `frames` frames of two planes and hands the result to `sink` as interleaved
    // stereo. Never allocates, locks or waits. Thread: capture (one at a time).
    void process(const float* left, const float* right, int frames, CaptureSink& sink) noexcept;

private:
    SRC_STATE_tag* state_ = nullptr;
    double ratio_ = 1.0;
    std::vector<float> input_;   // interleaved, kChunkFrames
    std::vector<float> output_;  // interleaved, enough for one chunk converted
};

}  // namespace vornik
