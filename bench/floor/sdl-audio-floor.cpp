// SDL audio with an empty callback, as the instrument opens it (48 kHz, float, stereo): what
// SDL's audio thread costs before any work of ours. idle-cpu.sh runs it beside the program.
// Usage: sdl-audio-floor SECONDS [BUFFER_FRAMES]

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 64;
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "sdl-audio-floor: %s\n", SDL_GetError());
        return 1;
    }
    SDL_AudioSpec want{}, have{};
    want.freq = 48000;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = static_cast<Uint16>(frames);
    want.callback = [](void*, Uint8* stream, int bytes) { std::memset(stream, 0, bytes); };
    const SDL_AudioDeviceID id =
        SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (id == 0) {
        std::fprintf(stderr, "sdl-audio-floor: %s\n", SDL_GetError());
        return 1;
    }
    SDL_PauseAudioDevice(id, 0);
    SDL_Delay(static_cast<Uint32>(seconds) * 1000);
    SDL_CloseAudioDevice(id);
    SDL_Quit();
    return 0;
}
