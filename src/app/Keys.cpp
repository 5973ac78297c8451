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
    } else if (characters == "r") {
        rDown_ = true;
        if (target_.recording()) {
            target_.recordingEnd();
        } else {
            target_.showBar(kInstrumentBar);
            target_.recordingStart();
        }
    }
}

void Keys::keyUp(std::string_view characters) {
    // A release whose press went to another window (the key was already down when ours got the
    // keyboard) must not end a recording that never started here, nor reload an old one.
    bool* seen = characters == " " ? &spaceDown_ : characters == "r" ? &rDown_ : nullptr;
    if (seen == nullptr || !*seen) return;
    *seen = false;
    const double held = clock_.now() - keyDownTime_;
    if (held <= app::kKeyHoldSeconds) return;
    if (characters == " ") {
        if (target_.currentBar() != kInstrumentBar) target_.showBar(kInstrumentBar);
    } else {
        target_.recordingEnd();
    }
}

std::string keyCharacters(int sdlKeycode, unsigned sdlModifiers) {
    if (sdlModifiers & (KMOD_CTRL | KMOD_ALT | KMOD_GUI)) return "";
    if (sdlKeycode == SDLK_SPACE) return " ";
    if (sdlKeycode == SDLK_r) return (sdlModifiers & (KMOD_SHIFT | KMOD_CAPS)) ? "R" : "r";
    return "";
}

}  // namespace vornik
