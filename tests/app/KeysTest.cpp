// The space bar, r and o on a manual clock: short and long presses, auto-repeat, capital R.

#include <SDL_keyboard.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/Keys.h"

namespace vornik {
namespace {

using Calls = std::vector<std::string>;

// The bars and the recording as the keys see them; every change is logged.
class KeysTest : public ::testing::Test, public KeyTarget {
protected:
    int currentBar() const override { return current; }
    int secondaryBar() const override { return secondary; }
    void showBar(int bar) override {
        calls.push_back("showBar " + std::to_string(bar));
        current = bar;
        if (bar != 0) secondary = bar;
    }
    bool recording() const override { return isRecording; }
    void recordingStart() override { calls.push_back("recordingStart"), isRecording = true; }
    void recordingEnd() override { calls.push_back("recordingEnd"), isRecording = false; }
    bool outputRecording() const override { return isTaking; }
    void outputRecordingStart() override { calls.push_back("outputStart"), isTaking = true; }
    void outputRecordingEnd(bool resample) override {
        calls.push_back(resample ? "outputEnd resample" : "outputEnd"), isTaking = false;
    }

    Calls take() { return std::exchange(calls, {}); }
    // Presses, holds and releases `key`; returns what it did.
    Calls press(const char* key, double hold) {
        keys.keyDown(key, false);
        clock.advance(hold);
        keys.keyUp(key);
        return take();
    }
    int current = 0, secondary = 1;
    bool isRecording = false, isTaking = false;
    Calls calls;
    ManualClock clock;
    Keys keys{clock, *this};
};

TEST_F(KeysTest, SpaceShortPressTogglesLongPressShowsTheBarWhileHeld) {
    EXPECT_EQ(press(" ", 0.1), Calls{"showBar 1"});  // the controls bar, the first time
    EXPECT_EQ(press(" ", 0.1), Calls{"showBar 0"});
    showBar(2);  // the effects bar, now the last control bar shown
    take();
    EXPECT_EQ(press(" ", 0.2), Calls{"showBar 0"});
    EXPECT_EQ(press(" ", 0.5), Calls{"showBar 2"});  // exactly the limit is still short
    // Held on a control bar: down returns to the instrument, the release has nothing to do.
    EXPECT_EQ(press(" ", 1.0), Calls{"showBar 0"});
    EXPECT_EQ(secondary, 2);
    EXPECT_EQ(press(" ", 1.0), (Calls{"showBar 2", "showBar 0"}));  // held on the instrument
}

TEST_F(KeysTest, RRecordsOTakesTheOutputAndShiftOMakesTheTakeTheSample) {
    showBar(2);
    take();
    EXPECT_EQ(press("r", 0.1), (Calls{"showBar 0", "recordingStart"}));
    EXPECT_EQ(press(" ", 2.0), Calls{});
    EXPECT_EQ(press("r", 0.1), Calls{"recordingEnd"});  // stops on down; short release: nothing
    EXPECT_EQ(press("r", 2.0), (Calls{"showBar 0", "recordingStart", "recordingEnd"}));
    // A long press that itself ended a recording still ends it again on release.
    isRecording = true;
    EXPECT_EQ(press("r", 0.6), (Calls{"recordingEnd", "recordingEnd"}));
    showBar(2);
    take();
    EXPECT_EQ(press("o", 0.1), Calls{"outputStart"});  // the bar stays: the performance goes on
    EXPECT_EQ(press(" ", 0.1), Calls{"showBar 0"});    // and the bars still switch
    EXPECT_EQ(press("o", 0.1), Calls{"outputEnd"});
    EXPECT_EQ(press("o", 2.0), (Calls{"outputStart", "outputEnd"}));
    EXPECT_EQ(press("O", 0.1), Calls{"outputStart"});
    EXPECT_EQ(press("O", 2.0), Calls{"outputEnd resample"});  // its release finds no take
    // One key: Shift at the release decides.
    keys.keyDown("o", false);
    clock.advance(1.0);
    keys.keyUp("O");
    EXPECT_EQ(take(), (Calls{"outputStart", "outputEnd resample"}));
    isTaking = true;
    EXPECT_EQ(press("r", 0.1), (Calls{"showBar 0", "recordingStart"}));
}

TEST_F(KeysTest, RepeatsCapitalROtherKeysAndUnseenPressesDoNothing) {
    for (const char* key : {"R", "x"}) EXPECT_EQ(press(key, 2.0), Calls{}) << key;
    // Auto-repeat neither acts nor restarts the hold: a second of repeats is a long press.
    clock.set(5.0);
    keys.keyDown(" ", false);
    for (int i = 0; i < 20; ++i) {
        clock.advance(0.05);
        keys.keyDown(" ", true);
    }
    EXPECT_DOUBLE_EQ(keys.keyDownTime(), 5.0);
    keys.keyUp(" ");
    EXPECT_EQ(take(), (Calls{"showBar 1", "showBar 0"}));
    // Any press counts for the hold time: r's release is measured from the x press.
    keys.keyDown("r", false);
    keys.keyDown("r", true);
    clock.advance(0.4);
    keys.keyDown("x", false);
    clock.advance(0.4);
    keys.keyUp("r");
    EXPECT_EQ(take(), (Calls{"showBar 0", "recordingStart"}));
    // Releases whose press this window never saw do not end the recording.
    clock.advance(5.0);
    keys.keyUp("r");
    keys.keyUp(" ");
    EXPECT_EQ(take(), Calls{});
}

TEST(KeysCharactersTest, MapsSdlKeysToCharacters) {
    for (auto [key, mod, characters] : {std::tuple{SDLK_SPACE, KMOD_LSHIFT, " "},
                                        {SDLK_r, KMOD_NUM, "r"},
                                        {SDLK_r, KMOD_RSHIFT, "R"},
                                        {SDLK_r, KMOD_CAPS, "R"},
                                        {SDLK_SPACE, KMOD_LALT, ""},
                                        {SDLK_r, KMOD_LCTRL, ""},
                                        {SDLK_a, KMOD_NONE, ""},
                                        {SDLK_o, KMOD_RSHIFT, "O"},
                                        {SDLK_o, KMOD_CAPS, "o"}}) {
        EXPECT_EQ(keyCharacters(key, mod), characters) << key << " " << mod;
    }
}

}  // namespace
}  // namespace vornik
