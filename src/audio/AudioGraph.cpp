#include "audio/AudioGraph.h"

#include <algorithm>

#include "audio/Denormals.h"

namespace vornik {

void AudioGraph::setSource(RenderFunction render, void* context) {
    source_ = render;
    sourceContext_ = context;
}

void AudioGraph::prepare(double sampleRate) {
    for (AudioEffect* unit :
         {static_cast<AudioEffect*>(&lowpass_), static_cast<AudioEffect*>(&highpass_),
          static_cast<AudioEffect*>(&delay_), static_cast<AudioEffect*>(&reverb_)}) {
        unit->prepare(sampleRate, kBlockFrames);
    }
    lowpassIdle_ = highpassIdle_ = delayIdle_ = reverbIdle_ = false;
    sampleRate_ = sampleRate;
}

void AudioGraph::render(float* left, float* right, int frames) {
    if (frames <= 0) return;
    if (!isPrepared()) {
        std::fill_n(left, frames, 0.0f);
        std::fill_n(right, frames, 0.0f);
        return;
    }
    ScopedDenormalFlush flush;
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, kBlockFrames);
        renderBlock(left + done, right + done, n);
        done += n;
    }
}

void AudioGraph::renderBlock(float* left, float* right, int frames) {
    frames_.store(frames_.load(std::memory_order_relaxed) + static_cast<std::uint64_t>(frames),
                  std::memory_order_relaxed);
    if (source_) {
        source_(sourceContext_, left, right, frames);
    } else {
        std::fill_n(left, frames, 0.0f);
        std::fill_n(right, frames, 0.0f);
    }
    run(lowpass_, lowpassIdle_, left, right, frames);
    run(highpass_, highpassIdle_, left, right, frames);
    run(delay_, delayIdle_, left, right, frames);
    run(reverb_, reverbIdle_, left, right, frames);
    // The main mix passes the reverb's output on at unity gain; the oscilloscope sees it.
    tap_.write(left, right, frames);
    if (MixListener* listener = listener_.load(std::memory_order_acquire)) {
        listener->mixRendered(left, right, frames);
    }
}

void AudioGraph::run(AudioEffect& unit, bool& idle, float* left, float* right, int frames) {
    if (unit.idle()) {
        if (!idle) unit.reset();  // what is left is below hearing: start clean when it is back
        idle = true;
        return;
    }
    idle = false;
    unit.process(left, right, left, right, frames);
}

}  // namespace vornik
