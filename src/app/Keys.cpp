#include "app/Keys.h"

#include <SDL_keyboard.h>

#include "app/AppConstants.h"

namespace vornik {
namespace {

constexpr int kInstrumentBar = 0;

}  // namespace

void Keys::keyDown(std::string_view characters, bool isRepeat) {
    if (isRepeat) return;
    keyDownTime_ = clock_.now();
    if (characters == " ") {
        spaceDown_ = true;
        if (target_.recording()) return;
        if (target_.currentBar() != kInstrumentBar) {
            target_.showBar(kInstrumentBar);
        } else {
            target_.showBar(target_.secondaryBar());
        }
    } else if (characters == "r" || characters == "o" || characters == "O") {
        const Take take = characters == "r" ? Take::microphone : Take::output;
        *pressed(characters) = true;
        if (taking(take)) {
            endTake(take, characters == "O");
        } else {
            startTake(take);
        }
    }
}

void Keys::keyUp(std::string_view characters) {
    // A release whose press went to another window (the key was already down when ours got the
    // keyboard) must not end a recording that never started here, nor reload an old one.
    bool* seen = pressed(characters);
    if (seen == nullptr || !*seen) return;
    *seen = false;
    const double held = clock_.now() - keyDownTime_;
    if (held <= app::kKeyHoldSeconds) return;
    if (characters == " ") {
        if (target_.currentBar() != kInstrumentBar) target_.showBar(kInstrumentBar);
    } else if (characters == "r") {
        target_.recordingEnd();  // even when the press ended the recording: it loads it again
    } else if (target_.outputRecording()) {
        endTake(Take::output, characters == "O");
    }
}

bool* Keys::pressed(std::string_view characters) {
    if (characters == " ") return &spaceDown_;
    if (characters == "r") return &rDown_;
    if (characters == "o" || characters == "O") return &oDown_;
    return nullptr;
}

bool Keys::taking(Take take) const {
    return take == Take::microphone ? target_.recording() : target_.outputRecording();
}

void Keys::startTake(Take take) {
    if (take == Take::microphone) {
        target_.showBar(kInstrumentBar);  // the meter shows where the instrument was
        target_.recordingStart();
    } else {
        target_.outputRecordingStart();  // the performance goes on, on whichever bar
    }
}

void Keys::endTake(Take take, bool resample) {
    if (take == Take::microphone) {
        target_.recordingEnd();
    } else {
        target_.outputRecordingEnd(resample);
    }
}

std::string keyCharacters(int sdlKeycode, unsigned sdlModifiers) {
    if (sdlModifiers & (KMOD_CTRL | KMOD_ALT | KMOD_GUI)) return "";
    if (sdlKeycode == SDLK_SPACE) return " ";
    if (sdlKeycode == SDLK_r) return (sdlModifiers & (KMOD_SHIFT | KMOD_CAPS)) ? "R" : "r";
    if (sdlKeycode == SDLK_o) return (sdlModifiers & KMOD_SHIFT) ? "O" : "o";
    return "";
}

}  // namespace vornik
