#include "audio/DelayUnit.h"

#include <bit>
#include <cmath>
#include <numbers>

namespace vornik {

void DelayUnit::prepare(double sampleRate, int /*maxBlock*/) {
    sampleRate_ = sampleRate;
    longest_ = static_cast<int>(std::ceil(kLongestTime * sampleRate));
    const auto size = std::bit_ceil(static_cast<std::uint32_t>(longest_) + 1u);
    lineL_.assign(size, 0.0f);
    lineR_.assign(size, 0.0f);
    mask_ = size - 1;
    rampFrames_ = std::max(1, static_cast<int>(std::lround(kRampSeconds * sampleRate)));
    fadeStep_ = 1.0f / static_cast<float>(std::max(1.0, kTimeCrossfadeSeconds * sampleRate));
    current_ = next_ = delayFramesFor(delayTime());
    fading_ = false;
    mix_.snap(mixTarget());
    feedbackGain_.snap(feedbackTarget());
    lastCutoff_ = -1.0f;
    followParameters();
    reset();
}

void DelayUnit::reset() {
    std::fill(lineL_.begin(), lineL_.end(), 0.0f);
    std::fill(lineR_.begin(), lineR_.end(), 0.0f);
    lowL_ = lowR_ = 0.0f;
    write_ = 0;
    quiet_ = INT32_MAX;
}

bool DelayUnit::idle() const {
    return mixTarget() == 0.0f && mix_.settled() && mix_.value() == 0.0f &&
           quiet_ > std::max(current_, next_);
}

int DelayUnit::delayFramesFor(double seconds) const {
    const double t = dsp::clampParameter(seconds, 0.0, kLongestTime, 0.0);
    const long frames = std::lround(t * sampleRate_);
    return static_cast<int>(std::clamp<long>(frames, 1, longest_));
}

float DelayUnit::feedbackTarget() const {
    const double f = dsp::clampParameter(feedback() / 100.0, -kFeedbackLimit, kFeedbackLimit, 0.0);
    return static_cast<float>(f);
}

float DelayUnit::mixTarget() const {
    return static_cast<float>(dsp::clampParameter(wetDryMix() / 100.0, 0.0, 1.0, 0.0));
}

void DelayUnit::followParameters() {
    mix_.setTarget(mixTarget(), rampFrames_);
    feedbackGain_.setTarget(feedbackTarget(), rampFrames_);

    const float cutoff = lowPassCutoff();
    if (cutoff != lastCutoff_ && !std::isnan(cutoff)) {
        lastCutoff_ = cutoff;
        const double hz =
            std::clamp<double>(cutoff, kLowestCutoff, kHighestCutoffFraction * sampleRate_);
        smooth_ = static_cast<float>(std::exp(-2.0 * std::numbers::pi * hz / sampleRate_));
    }

    // A new time waits for a running crossfade to end; the latest value wins.
    const double seconds = delayTime();
    if (std::isnan(seconds)) return;
    const int target = delayFramesFor(seconds);
    if (!fading_ && target != current_) {
        next_ = target;
        fade_ = 0.0f;
        fading_ = true;
    }
}

void DelayUnit::process(const float* inL, const float* inR, float* outL, float* outR, int frames) {
    if (sampleRate_ <= 0.0) {
        dsp::copyIfApart(inL, outL, frames);
        dsp::copyIfApart(inR, outR, frames);
        return;
    }
    followParameters();
    const bool dryOnly = mix_.settled() && mix_.value() == 0.0f;
    float* lineL = lineL_.data();
    float* lineR = lineR_.data();
    const std::uint32_t first = write_;
    for (int i = 0; i < frames; ++i) {
        float echoL = lineL[(write_ - current_) & mask_];
        float echoR = lineR[(write_ - current_) & mask_];
        if (fading_) {
            const float nextL = lineL[(write_ - next_) & mask_];
            const float nextR = lineR[(write_ - next_) & mask_];
            echoL += fade_ * (nextL - echoL);
            echoR += fade_ * (nextR - echoR);
            fade_ += fadeStep_;
            if (fade_ >= 1.0f) {
                current_ = next_;
                fading_ = false;
            }
        }
        // One-pole low-pass in the echo path: every repeat comes back a little darker.
        lowL_ = echoL + smooth_ * (lowL_ - echoL);
        lowR_ = echoR + smooth_ * (lowR_ - echoR);

        const float x = inL[i], y = inR[i];
        const float fb = feedbackGain_.next();
        lineL[write_] = (dryOnly ? 0.0f : x) + fb * lowL_;
        lineR[write_] = (dryOnly ? 0.0f : y) + fb * lowR_;
        write_ = (write_ + 1) & mask_;

        const float m = mix_.next();
        if (dryOnly) {
            outL[i] = x;
            outR[i] = y;
        } else {
            outL[i] = x + m * (lowL_ - x);
            outR[i] = y + m * (lowR_ - y);
        }
    }
    // Fully dry the line only drains: count how long it has held nothing audible.
    float loudest = 0.0f;
    for (int i = 0; dryOnly && i < frames; ++i) {
        const std::uint32_t k = (first + static_cast<std::uint32_t>(i)) & mask_;
        loudest = std::max({loudest, std::fabs(lineL[k]), std::fabs(lineR[k])});
    }
    quiet_ = dryOnly && loudest < kSilence ? quiet_ + std::min(frames, INT32_MAX - quiet_) : 0;
    // Every value in the lines passes through the echo filter when it is read back.
    if (!dsp::allFinite(lowL_, lowR_)) reset();
}

}  // namespace vornik
