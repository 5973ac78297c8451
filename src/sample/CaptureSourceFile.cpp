#include "sample/CaptureSourceFile.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/Constants.h"
#include "base/Log.h"

namespace vornik {
namespace {

// How long pump() waits for a sink that takes nothing before it lets the frames drop.
constexpr auto kLongestStall = std::chrono::seconds(2);
constexpr auto kStallPoll = std::chrono::milliseconds(1);

}  // namespace

FileCaptureSource::FileCaptureSource(std::filesystem::path path) : path_(std::move(path)) {}

FileCaptureSource::~FileCaptureSource() { stop(); }

bool FileCaptureSource::start(CaptureSink& sink) {
    stop();
    SF_INFO info{};
    SNDFILE* file = sf_open(path_.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        logf("recording: cannot open the capture file %s (%s)", path_.c_str(),
             sf_strerror(nullptr));
        return false;
    }
    if (info.samplerate != kRecordingSampleRate || info.channels < 1) {
        logf("recording: the capture file %s is at %d Hz with %d channels; only %d Hz is taken",
             path_.c_str(), info.samplerate, info.channels, kRecordingSampleRate);
        sf_close(file);
        return false;
    }
    file_ = file;
    fileChannels_ = info.channels;
    atEnd_ = false;
    sink_ = &sink;
    fileBlock_.assign(kPumpBlockFrames * static_cast<std::size_t>(fileChannels_), 0.0f);
    stereoBlock_.assign(kPumpBlockFrames * kRecordingChannels, 0.0f);
    return true;
}

void FileCaptureSource::stop() {
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
    sink_ = nullptr;
    atEnd_ = false;
}

std::size_t FileCaptureSource::pump(std::size_t frames) {
    if (file_ == nullptr || sink_ == nullptr) return 0;
    std::size_t delivered = 0;
    auto stalledSince = std::chrono::steady_clock::now();
    while (delivered < frames && !atEnd_) {
        std::size_t room = sink_->captureRoom();
        if (room == 0) {
            if (std::chrono::steady_clock::now() - stalledSince < kLongestStall) {
                std::this_thread::sleep_for(kStallPoll);
                continue;
            }
            room = kPumpBlockFrames;  // the sink is stuck: let it drop and count
        }
        const std::size_t want = std::min({frames - delivered, kPumpBlockFrames, room});
        const sf_count_t got =
            sf_readf_float(file_, fileBlock_.data(), static_cast<sf_count_t>(want));
        if (got <= 0) {
            atEnd_ = true;
            break;
        }
        const auto n = static_cast<std::size_t>(got);
        const float* in = fileBlock_.data();
        float* out = stereoBlock_.data();
        for (std::size_t i = 0; i < n; ++i, in += fileChannels_) {
            out[2 * i] = in[0];
            out[2 * i + 1] = fileChannels_ >= 2 ? in[1] : in[0];
        }
        sink_->captureFrames(stereoBlock_.data(), n);
        delivered += n;
        if (n < want) atEnd_ = true;
        stalledSince = std::chrono::steady_clock::now();
    }
    return delivered;
}

}  // namespace vornik
