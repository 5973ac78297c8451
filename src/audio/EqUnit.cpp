#include "audio/EqUnit.h"

#include <cmath>
#include <numbers>

namespace vornik {

void EqUnit::prepare(double sampleRate, int maxBlock) {
    sampleRate_ = sampleRate;
    maxBlock_ = std::max(maxBlock, 1);
    fadeFrames_ = std::max(1, static_cast<int>(std::lround(kBypassFadeSeconds * sampleRate)));
    scratchL_.assign(static_cast<std::size_t>(maxBlock_), 0.0f);
    scratchR_.assign(static_cast<std::size_t>(maxBlock_), 0.0f);
    runningType_ = filterType();
    targetHz_ = runningHz_ = clampedFrequency(frequency());
    targetLog_ = logFrequency_ = std::log2(targetHz_);
    computeCoefficients();
    inPath_ = !bypass() && !bandBypass();
    wet_.snap(inPath_ ? 1.0f : 0.0f);
    reset();
}

void EqUnit::reset() { left_ = right_ = Channel{}; }

double EqUnit::clampedFrequency(float hz) const {
    const double top = kHighestFraction * sampleRate_;
    return dsp::clampParameter(hz, kLowestFrequency, top, kLowestFrequency);
}

double EqUnit::runningFrequency() const { return runningHz_; }

bool EqUnit::idle() const {
    return (bypass() || bandBypass()) && wet_.settled() && wet_.value() == 0.0f;
}

void EqUnit::process(const float* inL, const float* inR, float* outL, float* outR, int frames) {
    if (sampleRate_ <= 0.0) {
        dsp::copyIfApart(inL, outL, frames);
        dsp::copyIfApart(inR, outR, frames);
        return;
    }
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, maxBlock_);
        processChunk(inL + done, inR + done, outL + done, outR + done, n);
        done += n;
    }
}

void EqUnit::followParameters(int frames) {
    const FilterType type = filterType();
    const float hz = frequency();
    if (!std::isnan(hz) && clampedFrequency(hz) != targetHz_) {
        targetHz_ = clampedFrequency(hz);
        targetLog_ = std::log2(targetHz_);
    }
    bool recompute = false;
    if (type != runningType_) {
        runningType_ = type;
        recompute = true;
    }
    if (logFrequency_ != targetLog_) {
        const double alpha = 1.0 - std::exp(-frames / (kGlideSeconds * sampleRate_));
        logFrequency_ += (targetLog_ - logFrequency_) * alpha;
        runningHz_ = std::exp2(logFrequency_);
        if (std::fabs(targetLog_ - logFrequency_) < 1e-4) {
            logFrequency_ = targetLog_;
            runningHz_ = targetHz_;
        }
        recompute = true;
    }
    if (recompute) computeCoefficients();

    const bool inPath = !bypass() && !bandBypass();
    if (inPath != inPath_) {
        inPath_ = inPath;
        wet_.setTarget(inPath ? 1.0f : 0.0f, fadeFrames_);
    }
}

void EqUnit::computeCoefficients() {
    // Prewarped integrator gain: exactly -3 dB at the set frequency, as the bilinear biquad.
    const double g = std::tan(std::numbers::pi * runningHz_ / sampleRate_);
    constexpr double k = 1.0 / kButterworthQ;
    a1_ = 1.0 / (1.0 + g * (g + k));
    a2_ = g * a1_;
    a3_ = g * a2_;
}

void EqUnit::filter(const float* in, float* out, Channel& c, int frames) const {
    // In double: steady at 10 Hz, where the poles sit close to 1.
    constexpr double k = 1.0 / kButterworthQ;
    const bool low = runningType_ == FilterType::kLowPass;
    double ic1 = c.ic1, ic2 = c.ic2;
    for (int i = 0; i < frames; ++i) {
        const double v0 = in[i];
        const double v3 = v0 - ic2;
        const double v1 = a1_ * ic1 + a2_ * v3;        // band
        const double v2 = ic2 + a2_ * ic1 + a3_ * v3;  // low
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        out[i] = static_cast<float>(low ? v2 : v0 - k * v1 - v2);
    }
    c.ic1 = ic1;
    c.ic2 = ic2;
}

void EqUnit::processChunk(const float* inL, const float* inR, float* outL, float* outR,
                          int frames) {
    followParameters(frames);
    float* fl = scratchL_.data();
    float* fr = scratchR_.data();
    filter(inL, fl, left_, frames);
    filter(inR, fr, right_, frames);
    if (!dsp::allFinite(left_.ic1, left_.ic2, right_.ic1, right_.ic2)) reset();

    if (wet_.settled()) {
        const bool filtered = wet_.value() == 1.0f;
        dsp::copyIfApart(filtered ? fl : inL, outL, frames);
        dsp::copyIfApart(filtered ? fr : inR, outR, frames);
        return;
    }
    for (int i = 0; i < frames; ++i) {
        const float w = wet_.next();
        outL[i] = inL[i] + w * (fl[i] - inL[i]);
        outR[i] = inR[i] + w * (fr[i] - inR[i]);
    }
}

}  // namespace vornik
