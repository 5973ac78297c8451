// The space bar and r: short and long presses, auto-repeat, capital R, on a manual clock.

#include <SDL_keyboard.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Keys.h"

namespace vornik {
namespace {

// The controller and the instrument as far as the keys see them: bars and recording.
class FakeTarget : public KeyTarget {
public:
    int currentBar() const override { return current; }
    int secondaryBar() const override { return secondary; }
    void showBar(int bar) override {
        calls.push_back("showBar " + std::to_string(bar));
        current = bar;
        if (bar != 0) secondary = bar;
    }
    bool recording() const override { return isRecording; }
    void recordingStart() override {
        calls.push_back("recordingStart");
        isRecording = true;
    }
    void recordingEnd() override {
        calls.push_back("recordingEnd");
        isRecording = false;
    }

    int current = 0;
    int secondary = 1;
    bool isRecording = false;
    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

class KeysTest : public ::testing::Test {
protected:
    void press(const char* key, double holdSeconds) {
        keys.keyDown(key, false);
        clock.advance(holdSeconds);
        keys.keyUp(key);
    }

    ManualClock clock;
    FakeTarget target;
    Keys keys{clock, target};
};

TEST_F(KeysTest, SpaceShortPressTogglesBetweenInstrumentAndLastControlBar) {
    clock.set(10.0);
    press(" ", 0.1);
    EXPECT_EQ(target.current, 1);  // the controls bar, the first time
    EXPECT_DOUBLE_EQ(keys.keyDownTime(), 10.0);
    press(" ", 0.1);
    EXPECT_EQ(target.current, 0);

    // The effects bar was the last control bar shown: space returns to it.
    target.showBar(2);
    press(" ", 0.2);
    EXPECT_EQ(target.current, 0);
    press(" ", 0.5);  // exactly the limit is still a short press
    EXPECT_EQ(target.current, 2);
    EXPECT_EQ(target.calls,
              (Calls{"showBar 1", "showBar 0", "showBar 2", "showBar 0", "showBar 2"}));
}

TEST_F(KeysTest, SpaceHeldShowsControlsOnlyWhileDown) {
    keys.keyDown(" ", false);
    EXPECT_EQ(target.current, 1);
    clock.advance(1.0);
    keys.keyUp(" ");
    EXPECT_EQ(target.current, 0);

    // Held on a control bar: down returns to the instrument, and the release has nothing to do.
    target.showBar(2);
    target.calls.clear();
    press(" ", 1.0);
    EXPECT_EQ(target.calls, (Calls{"showBar 0"}));
    EXPECT_EQ(target.secondary, 2);
}

TEST_F(KeysTest, SpaceWhileRecordingChangesNothing) {
    target.isRecording = true;
    press(" ", 0.1);
    press(" ", 2.0);  // on the instrument bar: the release has nothing to do either
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(target.current, 0);
}

TEST_F(KeysTest, RShortPressesStartAndStopRecording) {
    target.showBar(2);
    target.calls.clear();
    press("r", 0.1);  // from the effects bar: to the instrument, then record
    EXPECT_EQ(target.calls, (Calls{"showBar 0", "recordingStart"}));
    EXPECT_TRUE(target.isRecording);
    target.calls.clear();
    press("r", 0.1);  // stops on key down; the short release does nothing more
    EXPECT_EQ(target.calls, (Calls{"recordingEnd"}));
    EXPECT_FALSE(target.isRecording);
}

TEST_F(KeysTest, RHeldRecordsFromPressToRelease) {
    keys.keyDown("r", false);
    EXPECT_EQ(target.calls, (Calls{"showBar 0", "recordingStart"}));
    clock.advance(2.0);
    keys.keyUp("r");
    EXPECT_EQ(target.calls, (Calls{"showBar 0", "recordingStart", "recordingEnd"}));

    // A long press that itself ended a recording still ends it again on release.
    target.isRecording = true;
    target.calls.clear();
    press("r", 0.6);
    EXPECT_EQ(target.calls, (Calls{"recordingEnd", "recordingEnd"}));
}

TEST_F(KeysTest, AutoRepeatDoesNothingNorRestartsTheHold) {
    clock.set(5.0);
    keys.keyDown(" ", false);
    EXPECT_EQ(target.current, 1);
    for (int i = 0; i < 20; ++i) {  // a second of repeats
        clock.advance(0.05);
        keys.keyDown(" ", true);
    }
    EXPECT_DOUBLE_EQ(keys.keyDownTime(), 5.0);
    EXPECT_EQ(target.current, 1);
    keys.keyUp(" ");  // held a second from the first press: back to the instrument
    EXPECT_EQ(target.current, 0);

    target.calls.clear();
    keys.keyDown("r", false);
    keys.keyDown("r", true);
    keys.keyDown("r", true);
    EXPECT_EQ(target.calls, (Calls{"showBar 0", "recordingStart"}));
}

TEST_F(KeysTest, CapitalROtherKeysAndForeignReleasesDoNothing) {
    press("R", 0.1);
    press("R", 2.0);
    press("x", 2.0);
    press("", 2.0);
    EXPECT_TRUE(target.calls.empty());

    // Any press counts for the hold time: the release of r is measured from the last press.
    keys.keyDown("r", false);
    clock.advance(0.4);
    keys.keyDown("x", false);
    clock.advance(0.4);
    keys.keyUp("r");
    EXPECT_EQ(target.calls, (Calls{"showBar 0", "recordingStart"}));

    // A release whose press this window never saw (the key was down when it got the keyboard)
    // does not end a recording.
    target.calls.clear();
    clock.advance(5.0);
    keys.keyUp("r");
    keys.keyUp(" ");
    EXPECT_TRUE(target.calls.empty());
}

TEST(KeysCharactersTest, MapsSdlKeysToCharacters) {
    EXPECT_EQ(keyCharacters(SDLK_SPACE, KMOD_NONE), " ");
    EXPECT_EQ(keyCharacters(SDLK_SPACE, KMOD_LSHIFT), " ");
    EXPECT_EQ(keyCharacters(SDLK_r, KMOD_NONE), "r");
    EXPECT_EQ(keyCharacters(SDLK_r, KMOD_NUM), "r");
    EXPECT_EQ(keyCharacters(SDLK_r, KMOD_LSHIFT), "R");
    EXPECT_EQ(keyCharacters(SDLK_r, KMOD_RSHIFT), "R");
    EXPECT_EQ(keyCharacters(SDLK_r, KMOD_CAPS), "R");
    EXPECT_EQ(keyCharacters(SDLK_r, KMOD_LCTRL), "");
    EXPECT_EQ(keyCharacters(SDLK_SPACE, KMOD_LALT), "");
    EXPECT_EQ(keyCharacters(SDLK_o, KMOD_LCTRL), "");
    EXPECT_EQ(keyCharacters(SDLK_a, KMOD_NONE), "");
}

}  // namespace
}  // namespace vornik
