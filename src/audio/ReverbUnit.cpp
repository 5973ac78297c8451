#include "audio/ReverbUnit.h"

#include <bit>
#include <cmath>

namespace vornik {
namespace {

// Line lengths of the cathedral at 48 kHz: primes spread geometrically over 30 to 100 ms.
constexpr std::array<int, ReverbUnit::kLines> kLineLengths = {
    1447, 1571, 1699, 1847, 1997, 2161, 2341, 2539, 2749, 2999, 3229, 3499, 3793, 4111, 4447, 4813};
constexpr std::array<int, ReverbUnit::kDiffusers> kDiffuserLeft = {229, 337, 521, 673};
constexpr std::array<int, ReverbUnit::kDiffusers> kDiffuserRight = {241, 353, 547, 691};
constexpr float kDiffusion = 0.62f;
constexpr double kLongestPreDelay = 0.05;  // seconds
constexpr double kReferenceRate = 48000.0;

// Signs of the two output taps and of the input feeds: rows of a 16 x 16 Hadamard matrix,
// orthogonal to each other, so left and right come out decorrelated.
constexpr std::array<float, ReverbUnit::kLines> kTapLeft = {1, -1, 1, -1, 1, -1, 1, -1,
                                                            1, -1, 1, -1, 1, -1, 1, -1};
constexpr std::array<float, ReverbUnit::kLines> kTapRight = {1, 1, -1, -1, 1, 1, -1, -1,
                                                             1, 1, -1, -1, 1, 1, -1, -1};
constexpr std::array<float, ReverbUnit::kLines> kFeedSign = {1, 1, 1, 1, -1, -1, -1, -1,
                                                             1, 1, 1, 1, -1, -1, -1, -1};

// Small rooms to large halls after the platform's list; 8 is the cathedral.
constexpr std::array<ReverbPreset, ReverbUnit::kPresetCount> kPresets = {{
    {0.30, 0.6, 0.3, 0.004},   // 0 small room
    {0.45, 0.9, 0.45, 0.008},  // 1 medium room
    {0.60, 1.4, 0.7, 0.012},   // 2 large room
    {0.70, 1.8, 0.9, 0.015},   // 3 medium hall
    {0.85, 2.6, 1.2, 0.020},   // 4 large hall
    {0.40, 1.8, 1.4, 0.0},     // 5 plate
    {0.50, 1.3, 0.6, 0.008},   // 6 medium chamber
    {0.65, 1.9, 0.9, 0.012},   // 7 large chamber
    {1.00, 6.0, 2.2, 0.030},   // 8 cathedral
    {0.60, 1.6, 0.8, 0.012},   // 9 large room 2
    {0.70, 2.0, 1.0, 0.015},   // 10 medium hall 2
    {0.75, 2.2, 1.1, 0.016},   // 11 medium hall 3
    {0.90, 3.0, 1.4, 0.022},   // 12 large hall 2
}};

// Wet level: the tail's energy grows with the decay time and falls with the line lengths, so the
// output is scaled by sqrt(size / decay) to about unit power for steady noise in every preset.
constexpr double kOutputLevel = 0.125;

// In-place fast Walsh-Hadamard transform over the lines, on whole blocks of frames, scaled to
// keep energy (1/4 for 16 lines).
template <std::size_t N>
void hadamard(std::array<std::array<float, N>, ReverbUnit::kLines>& rows, int frames) {
    for (int h = 1; h < ReverbUnit::kLines; h *= 2) {
        for (int i = 0; i < ReverbUnit::kLines; i += 2 * h) {
            for (int j = i; j < i + h; ++j) {
                float* a = rows[j].data();
                float* b = rows[j + h].data();
                for (int k = 0; k < frames; ++k) {
                    const float x = a[k], y = b[k];
                    a[k] = x + y;
                    b[k] = x - y;
                }
            }
        }
    }
    for (auto& row : rows) {
        for (int k = 0; k < frames; ++k) row[k] *= 0.25f;
    }
}

}  // namespace

const ReverbPreset& ReverbUnit::presetValues(int preset) {
    return kPresets[static_cast<std::size_t>(std::clamp(preset, 0, kPresetCount - 1))];
}

bool ReverbUnit::loadFactoryPreset(int preset) {
    if (preset < 0 || preset >= kPresetCount) return false;
    preset_.store(preset, kRelaxed);
    return true;
}

void ReverbUnit::prepare(double sampleRate, int /*maxBlock*/) {
    sampleRate_ = sampleRate;
    const double scale = sampleRate / kReferenceRate;
    const auto longest = static_cast<std::uint32_t>(std::ceil(kLineLengths.back() * scale));
    lineSize_ = std::bit_ceil(longest + kChunk + 1u);
    lineMask_ = lineSize_ - 1;
    lines_.assign(static_cast<std::size_t>(lineSize_) * kLines, 0.0f);

    const auto pre = static_cast<std::uint32_t>(std::ceil(kLongestPreDelay * sampleRate));
    const auto preSize = std::bit_ceil(pre + 1u);
    preL_.assign(preSize, 0.0f);
    preR_.assign(preSize, 0.0f);
    preMask_ = preSize - 1;

    for (int d = 0; d < kDiffusers; ++d) {
        for (auto* chain : {&diffL_, &diffR_}) {
            const int base = (chain == &diffL_ ? kDiffuserLeft : kDiffuserRight)[d];
            Allpass& a = (*chain)[d];
            a.length = std::max(1, static_cast<int>(std::lround(base * scale)));
            a.buffer.assign(static_cast<std::size_t>(a.length), 0.0f);
        }
    }
    rampFrames_ = std::max(1, static_cast<int>(std::lround(kRampSeconds * sampleRate)));
    mix_.snap(static_cast<float>(dsp::clampParameter(wetDryMix() / 100.0, 0.0, 1.0, 0.0)));
    applyPreset(factoryPreset());
}

void ReverbUnit::applyPreset(int preset) {
    runningPreset_ = preset;
    const ReverbPreset& p = presetValues(preset);
    const double scale = sampleRate_ / kReferenceRate;
    for (int i = 0; i < kLines; ++i) {
        const int len = static_cast<int>(std::lround(kLineLengths[i] * scale * p.size));
        length_[i] = std::max(len, kChunk);
        // Gain per pass for the low decay; the one-pole absorption lowers it further towards
        // Nyquist, down to the high decay's gain there (Jot's absorbent filter).
        const double passes = sampleRate_ / length_[i];
        const double gLow = std::pow(10.0, -3.0 / (p.decayLow * passes));
        const double gHigh = std::pow(10.0, -3.0 / (p.decayHigh * passes));
        const double ratio = gHigh / gLow;
        gain_[i] = static_cast<float>(gLow);
        absorb_[i] = static_cast<float>((1.0 - ratio) / (1.0 + ratio));
    }
    preDelay_ = std::clamp(static_cast<int>(std::lround(p.preDelay * sampleRate_)), 0,
                           static_cast<int>(preMask_));
    const ReverbPreset& c = kPresets[kCathedral];
    outputGain_ =
        static_cast<float>(kOutputLevel * std::sqrt((p.size / p.decayLow) / (c.size / c.decayLow)));
    reset();
}

void ReverbUnit::reset() {
    std::fill(lines_.begin(), lines_.end(), 0.0f);
    std::fill(preL_.begin(), preL_.end(), 0.0f);
    std::fill(preR_.begin(), preR_.end(), 0.0f);
    for (auto* chain : {&diffL_, &diffR_}) {
        for (Allpass& a : *chain) {
            std::fill(a.buffer.begin(), a.buffer.end(), 0.0f);
            a.pos = 0;
        }
    }
    lowState_.fill(0.0f);
    write_ = preWrite_ = 0;
    quiet_ = INT32_MAX;
}

bool ReverbUnit::idle() const {
    // Quiet for a whole line, which is longer than the pre-delay and the diffusers: whatever
    // was still in them has passed through the network's outputs meanwhile.
    const double target = dsp::clampParameter(wetDryMix() / 100.0, 0.0, 1.0, mix_.target());
    return target == 0.0 && mix_.settled() && mix_.value() == 0.0f &&
           factoryPreset() == runningPreset_ && quiet_ >= static_cast<int>(lineSize_);
}

float ReverbUnit::diffuse(std::array<Allpass, kDiffusers>& chain, float x) {
    for (Allpass& a : chain) {
        const float delayed = a.buffer[static_cast<std::size_t>(a.pos)];
        const float v = x + kDiffusion * delayed;
        a.buffer[static_cast<std::size_t>(a.pos)] = v;
        x = delayed - kDiffusion * v;
        if (++a.pos == a.length) a.pos = 0;
    }
    return x;
}

void ReverbUnit::process(const float* inL, const float* inR, float* outL, float* outR, int frames) {
    if (sampleRate_ <= 0.0) {
        dsp::copyIfApart(inL, outL, frames);
        dsp::copyIfApart(inR, outR, frames);
        return;
    }
    // A preset change clears the network: its lines change length.
    const int preset = factoryPreset();
    if (preset != runningPreset_) applyPreset(preset);
    mix_.setTarget(
        static_cast<float>(dsp::clampParameter(wetDryMix() / 100.0, 0.0, 1.0, mix_.target())),
        rampFrames_);
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, kChunk);
        processChunk(inL + done, inR + done, outL + done, outR + done, n);
        done += n;
    }
    // Whatever the pre-delay, the diffusers and the lines hold reaches a line's absorption
    // filter within one pass of the network.
    float sum = 0.0f;
    for (float s : lowState_) sum += s;
    if (!std::isfinite(sum)) reset();
}

void ReverbUnit::processChunk(const float* inL, const float* inR, float* outL, float* outR,
                              int frames) {
    // Pre-delay and diffusion of the input; fully dry, the network only drains.
    const bool dry = mix_.settled() && mix_.value() == 0.0f;
    for (int k = 0; k < frames; ++k) {
        preL_[preWrite_] = dry ? 0.0f : inL[k];
        preR_[preWrite_] = dry ? 0.0f : inR[k];
        const std::uint32_t read = (preWrite_ - static_cast<std::uint32_t>(preDelay_)) & preMask_;
        feedL_[k] = diffuse(diffL_, preL_[read]);
        feedR_[k] = diffuse(diffR_, preR_[read]);
        preWrite_ = (preWrite_ + 1) & preMask_;
    }

    // Read every line's output for the whole chunk, absorbed and scaled.
    for (int i = 0; i < kLines; ++i) {
        const float* line = lines_.data() + static_cast<std::size_t>(i) * lineSize_;
        const std::uint32_t start = write_ - static_cast<std::uint32_t>(length_[i]);
        const float g = gain_[i], b = absorb_[i];
        float low = lowState_[i];
        float* row = block_[i].data();
        for (int k = 0; k < frames; ++k) {
            const float x = g * line[(start + k) & lineMask_];
            low = x + b * (low - x);  // one-pole: (1 - b) x + b low
            row[k] = low;
        }
        lowState_[i] = low;
    }

    float loudest = 0.0f;
    for (int k = 0; dry && k < frames; ++k) {
        loudest = std::max({loudest, std::fabs(feedL_[k]), std::fabs(feedR_[k])});
        for (const auto& row : block_) loudest = std::max(loudest, std::fabs(row[k]));
    }
    quiet_ = dry && loudest < kSilence ? quiet_ + std::min(frames, INT32_MAX - quiet_) : 0;

    // The two output taps.
    wetL_.fill(0.0f);
    wetR_.fill(0.0f);
    for (int i = 0; i < kLines; ++i) {
        const float* row = block_[i].data();
        const float sl = kTapLeft[i], sr = kTapRight[i];
        for (int k = 0; k < frames; ++k) {
            wetL_[k] += sl * row[k];
            wetR_[k] += sr * row[k];
        }
    }

    // Mix the lines and feed them back with the input: left into even lines, right into odd.
    hadamard(block_, frames);
    for (int i = 0; i < kLines; ++i) {
        float* line = lines_.data() + static_cast<std::size_t>(i) * lineSize_;
        const float* row = block_[i].data();
        const float* feed = (i % 2 == 0 ? feedL_ : feedR_).data();
        const float s = kFeedSign[i];
        for (int k = 0; k < frames; ++k) line[(write_ + k) & lineMask_] = row[k] + s * feed[k];
    }
    write_ = (write_ + static_cast<std::uint32_t>(frames)) & lineMask_;

    if (mix_.settled() && mix_.value() == 0.0f) {
        dsp::copyIfApart(inL, outL, frames);
        dsp::copyIfApart(inR, outR, frames);
        return;
    }
    for (int k = 0; k < frames; ++k) {
        const float m = mix_.next();
        const float wl = outputGain_ * wetL_[k], wr = outputGain_ * wetR_[k];
        outL[k] = inL[k] + m * (wl - inL[k]);
        outR[k] = inR[k] + m * (wr - inR[k]);
    }
}

}  // namespace vornik
