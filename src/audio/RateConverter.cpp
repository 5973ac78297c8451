#include "audio/RateConverter.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>

#include "base/Constants.h"
#include "sample/CaptureSource.h"

namespace vornik {
namespace {

// The fastest of libsamplerate's band-limited converters: 97 dB of signal to noise, flat to 80%
// of the band; the linear and hold converters alias audibly.
constexpr int kConverterType = SRC_SINC_FASTEST;

bool makeFailed(int code, std::string* error) {
    if (error) *error = src_strerror(code);
    return false;
}

}  // namespace

OutputRateConverter::~OutputRateConverter() {
    if (state_) src_delete(state_);
}

bool OutputRateConverter::prepare(AudioGraph& graph, double outputRate, std::string* error) {
    if (state_) state_ = src_delete(state_);
    graph_ = &graph;
    outputRate_ = outputRate;
    ratio_ = outputRate / kOutputSampleRate;
    if (outputRate == kOutputSampleRate) return true;
    if (!(ratio_ > 0.0) || src_is_valid_ratio(ratio_) == 0) {
        if (error) *error = "no conversion from 48000 Hz to " + std::to_string(outputRate) + " Hz";
        outputRate_ = 0.0;
        return false;
    }
    int code = 0;
    state_ =
        src_callback_new(&OutputRateConverter::pull, kConverterType, kOutputChannels, &code, this);
    if (!state_) {
        outputRate_ = 0.0;
        return makeFailed(code, error);
    }
    converted_.assign(2 * kChunkFrames, 0.0f);
    return true;
}

long OutputRateConverter::pull(void* self, float** data) {
    auto& c = *static_cast<OutputRateConverter*>(self);
    constexpr int n = AudioGraph::kBlockFrames;
    c.graph_->render(c.blockLeft_, c.blockRight_, n);
    for (int i = 0; i < n; ++i) {
        c.block_[2 * i] = c.blockLeft_[i];
        c.block_[2 * i + 1] = c.blockRight_[i];
    }
    *data = c.block_;
    return n;
}

void OutputRateConverter::render(float* left, float* right, int frames) noexcept {
    if (frames <= 0) return;
    if (!graph_ || outputRate_ <= 0.0) {
        std::fill_n(left, frames, 0.0f);
        std::fill_n(right, frames, 0.0f);
        return;
    }
    if (!state_) {
        graph_->render(left, right, frames);
        return;
    }
    for (int done = 0; done < frames;) {
        const int want = std::min(frames - done, kChunkFrames);
        long got = src_callback_read(state_, ratio_, want, converted_.data());
        got = std::max(0L, got);
        for (long i = 0; i < got; ++i) {
            left[done + i] = converted_[2 * i];
            right[done + i] = converted_[2 * i + 1];
        }
        if (got < want) {  // the converter failed: silence rather than stale data
            std::fill(left + done + got, left + frames, 0.0f);
            std::fill(right + done + got, right + frames, 0.0f);
            return;
        }
        done += want;
    }
}

CaptureRateConverter::~CaptureRateConverter() {
    if (state_) src_delete(state_);
}

bool CaptureRateConverter::prepare(double inputRate, std::string* error) {
    if (state_) state_ = src_delete(state_);
    ratio_ = kRecordingSampleRate / inputRate;
    input_.assign(2 * kChunkFrames, 0.0f);
    if (inputRate == kRecordingSampleRate) return true;
    if (!(ratio_ > 0.0) || src_is_valid_ratio(ratio_) == 0) {
        if (error) *error = "no conversion from " + std::to_string(inputRate) + " Hz";
        return false;
    }
    int code = 0;
    state_ = src_new(kConverterType, kRecordingChannels, &code);
    if (!state_) return makeFailed(code, error);
    // One chunk's output and the converter's own slack.
    output_.assign(2 * (static_cast<std::size_t>(std::ceil(kChunkFrames * ratio_)) + 64), 0.0f);
    return true;
}

void CaptureRateConverter::reset() noexcept {
    if (state_) src_reset(state_);
}

void CaptureRateConverter::process(const float* left, const float* right, int frames,
                                   CaptureSink& sink) noexcept {
    if (input_.empty()) return;
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, kChunkFrames);
        for (int i = 0; i < n; ++i) {
            input_[2 * i] = left[done + i];
            input_[2 * i + 1] = right[done + i];
        }
        done += n;
        if (!state_) {
            sink.captureFrames(input_.data(), static_cast<std::size_t>(n));
            continue;
        }
        SRC_DATA data{};
        data.data_in = input_.data();
        data.input_frames = n;
        data.src_ratio = ratio_;
        while (data.input_frames > 0) {
            data.data_out = output_.data();
            data.output_frames = static_cast<long>(output_.size() / 2);
            if (src_process(state_, &data) != 0) return;
            if (data.output_frames_gen > 0) {
                sink.captureFrames(output_.data(),
                                   static_cast<std::size_t>(data.output_frames_gen));
            }
            if (data.input_frames_used == 0 && data.output_frames_gen == 0) break;
            data.data_in += 2 * data.input_frames_used;
            data.input_frames -= data.input_frames_used;
        }
    }
}

}  // namespace vornik
