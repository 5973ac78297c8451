#pragma once
// The instrument's keys on the window: the space bar switches the strip between the instrument
// and the control bars, r records the microphone, o records the output (Shift+o also makes the
// take the sample). Thread: main, for every call here.
//
// A short press of space toggles between the instrument bar and the control bar last used; a
// press held longer than kKeyHoldSeconds shows the control bar only while the key is down. r and
// o behave alike: a short press starts recording and the next one stops it; holding the key
// longer records while it is held.

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
    // The output take; ending it with `resample` makes it the sample once it is saved.
    virtual bool outputRecording() const = 0;
    virtual void outputRecordingStart() = 0;
    virtual void outputRecordingEnd(bool resample) = 0;
};

class Keys {
public:
    Keys(const Clock& clock, KeyTarget& target) : clock_(clock), target_(target) {}

    // A key went down. `characters` is what the key types (" ", "r", "R", "o", "O", ... ; see
    // keyCharacters); only " ", "r", "o" and "O" act. An auto-repeat does nothing at all.
    void keyDown(std::string_view characters, bool isRepeat);
    // A key came up. Acts only after a hold longer than kKeyHoldSeconds, measured from the last
    // press that was not an auto-repeat, and only for a key whose press this window saw. o and
    // O are one key: Shift at the release decides whether the take becomes the sample.
    void keyUp(std::string_view characters);

    // Clock time of the last key press that was not an auto-repeat, whatever the key.
    double keyDownTime() const { return keyDownTime_; }

private:
    // The two recording keys.
    enum class Take { microphone, output };
    bool taking(Take take) const;
    void startTake(Take take);
    void endTake(Take take, bool resample);
    bool* pressed(std::string_view characters);

    const Clock& clock_;
    KeyTarget& target_;
    double keyDownTime_ = 0.0;
    bool spaceDown_ = false;
    bool rDown_ = false;
    bool oDown_ = false;
};

// The characters an SDL key gives, for the keys the instrument knows: " " for the space bar, "r"
// for r, "R" for r with Shift or Caps Lock, "o" for o, "O" for o with Shift (Caps Lock alone
// leaves it "o"). Every other key, and any key with Ctrl, Alt or the logo key, gives "" (it acts
// on nothing but still counts as a press).
std::string keyCharacters(int sdlKeycode, unsigned sdlModifiers);

}  // namespace vornik
