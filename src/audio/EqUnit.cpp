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
    targetLog_ = logFrequency_ = std::log2(clampedFrequency(frequency()));
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

double EqUnit::runningFrequency() const { return std::exp2(logFrequency_); }

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
    if (!std::isnan(hz)) targetLog_ = std::log2(clampedFrequency(hz));
    bool recompute = false;
    if (type != runningType_) {
        runningType_ = type;
        recompute = true;
    }
    if (logFrequency_ != targetLog_) {
        const double alpha = 1.0 - std::exp(-frames / (kGlideSeconds * sampleRate_));
        logFrequency_ += (targetLog_ - logFrequency_) * alpha;
        if (std::fabs(targetLog_ - logFrequency_) < 1e-4) logFrequency_ = targetLog_;
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
    // Bilinear transform with the cutoff prewarped: exactly -3 dB at the set frequency.
    const double k = std::tan(std::numbers::pi * runningFrequency() / sampleRate_);
    const double kk = k * k;
    const double norm = 1.0 / (1.0 + k / kButterworthQ + kk);
    if (runningType_ == FilterType::kLowPass) {
        b0_ = kk * norm;
        b1_ = 2.0 * b0_;
    } else {
        b0_ = norm;
        b1_ = -2.0 * b0_;
    }
    b2_ = b0_;
    a1_ = 2.0 * (kk - 1.0) * norm;
    a2_ = (1.0 - k / kButterworthQ + kk) * norm;
}

void EqUnit::filter(const float* in, float* out, Channel& c, int frames) const {
    // Transposed direct form II in double: steady at 10 Hz, where the poles sit close to 1.
    double z1 = c.z1, z2 = c.z2;
    for (int i = 0; i < frames; ++i) {
        const double x = in[i];
        const double y = b0_ * x + z1;
        z1 = b1_ * x - a1_ * y + z2;
        z2 = b2_ * x - a2_ * y;
        out[i] = static_cast<float>(y);
    }
    c.z1 = z1;
    c.z2 = z2;
}

void EqUnit::processChunk(const float* inL, const float* inR, float* outL, float* outR,
                          int frames) {
    followParameters(frames);
    float* fl = scratchL_.data();
    float* fr = scratchR_.data();
    filter(inL, fl, left_, frames);
    filter(inR, fr, right_, frames);

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
