#include "audio/AudioDevice.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

#include "base/Log.h"
#include "base/Status.h"

namespace vornik {
namespace {

const char* sdlError() {
    const char* e = SDL_GetError();
    return e && *e ? e : "unknown error";
}

}  // namespace

AudioDevice::AudioDevice(AudioGraph& graph, int bufferFrames)
    : graph_(graph), requestedFrames_(bufferFrames) {}

AudioDevice::~AudioDevice() {
    close();
    if (subsystemStarted_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool AudioDevice::open() {
    if (isOpen()) return true;
    if (!subsystemStarted_) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            logf("no audio output: the audio system did not start (%s); playing on without sound",
                 sdlError());
            showStatus("No sound device: playing silently");
            return false;
        }
        subsystemStarted_ = true;
    }

    SDL_AudioSpec want{};
    want.freq = static_cast<int>(kOutputSampleRate);
    want.format = AUDIO_F32SYS;
    want.channels = kOutputChannels;
    want.samples = static_cast<Uint16>(requestedFrames_);
    want.callback = &AudioDevice::callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // SDL converts rate, format and channels if the device differs; only the buffer size may
    // change, so that we know (and log) what the device really runs at.
    const SDL_AudioDeviceID id =
        SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (id == 0) {
        const char* driver = SDL_GetCurrentAudioDriver();
        logf(
            "no audio output: cannot open the default device on %s (%s); playing on without "
            "sound",
            driver ? driver : "no driver", sdlError());
        showStatus("No sound device: playing silently");
        return false;
    }
    device_ = id;
    bufferFrames_ = have.samples;
    logf("audio output: %s driver, %d Hz, %d frames per buffer (%d asked for)",
         SDL_GetCurrentAudioDriver(), have.freq, have.samples, requestedFrames_);
    SDL_PauseAudioDevice(id, 0);
    return true;
}

void AudioDevice::close() {
    if (!isOpen()) return;
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    bufferFrames_ = 0;
}

bool AudioDevice::reopen() {
    close();
    return open();
}

void AudioDevice::callback(void* self, std::uint8_t* stream, int bytes) {
    constexpr int kFrameBytes = kOutputChannels * static_cast<int>(sizeof(float));
    const int frames = bytes / kFrameBytes;
    static_cast<AudioDevice*>(self)->fill(reinterpret_cast<float*>(stream), frames);
    if (const int rest = bytes - frames * kFrameBytes; rest > 0) {
        std::memset(stream + frames * kFrameBytes, 0, static_cast<std::size_t>(rest));
    }
}

void AudioDevice::fill(float* interleaved, int frames) {
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, AudioGraph::kBlockFrames);
        graph_.render(scratchL_, scratchR_, n);
        float* out = interleaved + 2 * done;
        for (int i = 0; i < n; ++i) {
            out[2 * i] = scratchL_[i];
            out[2 * i + 1] = scratchR_[i];
        }
        done += n;
    }
}

}  // namespace vornik
