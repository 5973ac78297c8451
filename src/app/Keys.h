#pragma once
// The instrument's two keys on the window: the space bar switches the strip between the
// instrument and the control bars, r records. Thread: main, for every call here.
//
// A short press of space toggles between the instrument bar and the control bar last used; a
// press held longer than kKeyHoldSeconds shows the control bar only while the key is down. A short
// press of r starts recording and the next one stops it; holding r longer records while it is held.

#include <string>
#include <string_view>

#include "base/RunLoop.h"

namespace vornik {

// What the keys act on: the strip's controller and the instrument.
class KeyTarget {
public:
    virtual ~KeyTarget() = default;
    virtual int currentBar() const = 0;
    virtual int secondaryBar() const = 0;
    virtual void showBar(int bar) = 0;
    virtual bool recording() const = 0;
    virtual void recordingStart() = 0;
    virtual void recordingEnd() = 0;
};

class Keys {
public:
    Keys(const Clock& clock, KeyTarget& target) : clock_(clock), target_(target) {}

    // A key went down. `characters` is what the key types (" ", "r", "R", ... ; see
    // keyCharacters); only " " and "r" act. An auto-repeat does nothing at all.
    void keyDown(std::string_view characters, bool isRepeat);
    // A key came up. Acts only after a hold longer than kKeyHoldSeconds, measured from the last
    // press that was not an auto-repeat, and only for a key whose press this window saw.
    void keyUp(std::string_view characters);

    // Clock time of the last key press that was not an auto-repeat, whatever the key.
    double keyDownTime() const { return keyDownTime_; }

private:
    const Clock& clock_;
    KeyTarget& target_;
    double keyDownTime_ = 0.0;
    bool spaceDown_ = false;
    bool rDown_ = false;
};

// The characters an SDL key gives, for the keys the instrument knows: " " for the space bar, "r"
// for r, "R" for r with Shift or Caps Lock. Every other key, and any key with Ctrl, Alt or the
// logo key, gives "" (it acts on nothing but still counts as a press).
std::string keyCharacters(int sdlKeycode, unsigned sdlModifiers);

}  // namespace vornik
