#pragma once
// A stereo reverb: a pre-delay, a short chain of allpass diffusers per channel, and a feedback
// delay network of 16 lines mixed by a Hadamard matrix, each line with a one-pole absorption
// filter tuned so that low and high frequencies die away in their own reverberation times.
//
// Factory presets follow the platform's numbering (0 small room ... 8 cathedral ... 12 large
// hall 2). Fully dry, the network takes no more input; once its tail has decayed below -120 dB
// the unit is idle.
// Flush denormals around process() (the graph does): the fading tail otherwise turns subnormal.

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "audio/Effect.h"

namespace vornik {

struct ReverbPreset {
    double size;       // line lengths relative to the cathedral's
    double decayLow;   // seconds to -60 dB at low frequencies
    double decayHigh;  // seconds to -60 dB at the Nyquist frequency
    double preDelay;   // seconds
};

class ReverbUnit final : public AudioEffect {
public:
    static constexpr int kLines = 16;
    static constexpr int kDiffusers = 4;  // allpasses per channel
    static constexpr int kPresetCount = 13;
    static constexpr int kCathedral = 8;
    static constexpr double kRampSeconds = 0.01;  // wet/dry changes

    // The preset's decay and size. Thread: any.
    static const ReverbPreset& presetValues(int preset);

    // Parameters. Thread: any.
    // Loads one of the factory presets (0..12); other numbers are refused (false).
    bool loadFactoryPreset(int preset);
    int factoryPreset() const { return preset_.load(kRelaxed); }
    float wetDryMix() const { return wetDryMix_.load(kRelaxed); }  // percent, 0..100
    void setWetDryMix(float percent) { wetDryMix_.store(percent, kRelaxed); }

    void prepare(double sampleRate, int maxBlock) override;
    void reset() override;
    void process(const float* inL, const float* inR, float* outL, float* outR, int frames) override;
    // Fully dry, and the tail decayed below kSilence throughout the network.
    bool idle() const override;

private:
    static constexpr auto kRelaxed = std::memory_order_relaxed;
    // Frames per pass through the network: at most the shortest line, so that a pass reads
    // only what earlier passes wrote.
    static constexpr int kChunk = 64;

    struct Allpass {
        std::vector<float> buffer;
        int length = 1;
        int pos = 0;
    };

    void applyPreset(int preset);
    void processChunk(const float* inL, const float* inR, float* outL, float* outR, int frames);
    float diffuse(std::array<Allpass, kDiffusers>& chain, float x);

    std::atomic<int> preset_{kCathedral};
    std::atomic<float> wetDryMix_{50.0f};

    // Audio thread from here on.
    double sampleRate_ = 0.0;
    int runningPreset_ = -1;
    std::vector<float> lines_;  // kLines lines of lineSize_ each
    std::uint32_t lineSize_ = 0, lineMask_ = 0, write_ = 0;
    std::array<int, kLines> length_{};
    std::array<float, kLines> gain_{};    // per pass, at low frequencies
    std::array<float, kLines> absorb_{};  // one-pole coefficient
    std::array<float, kLines> lowState_{};
    std::vector<float> preL_, preR_;
    std::uint32_t preMask_ = 0, preWrite_ = 0;
    int preDelay_ = 0;
    std::array<Allpass, kDiffusers> diffL_, diffR_;
    std::array<std::array<float, kChunk>, kLines> block_{};
    std::array<float, kChunk> feedL_{}, feedR_{}, wetL_{}, wetR_{};
    float outputGain_ = 1.0f;
    int quiet_ = 0;  // frames the network has run below kSilence since it last held sound
    int rampFrames_ = 1;
    dsp::Ramp mix_;
};

}  // namespace vornik
