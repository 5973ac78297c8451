#include "sample/CaptureSourceDevice.h"

#include <SDL.h>

#include "base/Constants.h"
#include "base/Log.h"

namespace vornik {

static_assert(sizeof(SDL_AudioDeviceID) == sizeof(std::uint32_t));

DeviceCaptureSource::~DeviceCaptureSource() { stop(); }

bool DeviceCaptureSource::start(CaptureSink& sink) {
    stop();
    // Counted by SDL, so it lives alongside the output device's own initialisation.
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        logf("recording: no audio input (%s)", SDL_GetError());
        return false;
    }
    audioInitialised_ = true;

    SDL_AudioSpec want{};
    want.freq = kRecordingSampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = kRecordingChannels;
    want.samples = kCaptureBlockFrames;
    want.callback = &DeviceCaptureSource::audioCallback;
    want.userdata = &sink;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts the device's own format to ours.
    device_ = SDL_OpenAudioDevice(nullptr, 1, &want, &have, 0);
    if (device_ == 0) {
        logf("recording: cannot open the audio input (%s)", SDL_GetError());
        stop();
        return false;
    }
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void DeviceCaptureSource::stop() {
    if (device_ != 0) {
        // Closing waits for the capture thread, so no callback runs after this.
        SDL_CloseAudioDevice(device_);
        device_ = 0;
    }
    if (audioInitialised_) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioInitialised_ = false;
    }
}

void DeviceCaptureSource::audioCallback(void* userdata, std::uint8_t* stream, int length) noexcept {
    if (userdata == nullptr || stream == nullptr || length <= 0) return;
    constexpr int kFrameBytes = kRecordingChannels * static_cast<int>(sizeof(float));
    static_cast<CaptureSink*>(userdata)->captureFrames(
        reinterpret_cast<const float*>(stream), static_cast<std::size_t>(length / kFrameBytes));
}

}  // namespace vornik
