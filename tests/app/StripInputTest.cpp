// Fingers and the mouse on the strip: identities, phases, touch-made mouse events, the held
// mouse finger and focus loss.

#include <gtest/gtest.h>

#include <vector>

#include "app/StripInput.h"

namespace vornik {
namespace {

struct Batch {
    TouchPhase phase;
    std::vector<Touch> touches;
};

// A 1000 x 560 window at zoom 2: the strip is the bottom 60 units, 500 x 30 points.
class StripInputTest : public ::testing::Test {
protected:
    StripInputTest() {
        input.setGeometry(1000.0, 560.0, 2.0);
        input.setWindowID(7);
    }

    static SDL_Event finger(Uint32 type, SDL_FingerID id, float nx, float ny) {
        SDL_Event e{};
        e.tfinger.type = type;
        e.tfinger.windowID = 7;
        e.tfinger.touchId = 3;
        e.tfinger.fingerId = id;
        e.tfinger.x = nx;
        e.tfinger.y = ny;
        return e;
    }
    static SDL_Event button(Uint32 type, int x, int y, Uint32 which = 0) {
        SDL_Event e{};
        e.button.type = type;
        e.button.windowID = 7;
        e.button.which = which;
        e.button.button = SDL_BUTTON_LEFT;
        e.button.x = x;
        e.button.y = y;
        return e;
    }
    static SDL_Event motion(int x, int y, Uint32 which = 0) {
        SDL_Event e{};
        e.motion.type = SDL_MOUSEMOTION;
        e.motion.windowID = 7;
        e.motion.which = which;
        e.motion.x = x;
        e.motion.y = y;
        return e;
    }
    static SDL_Event focusLost() {
        SDL_Event e{};
        e.window.type = SDL_WINDOWEVENT;
        e.window.windowID = 7;
        e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
        return e;
    }

    std::vector<Batch> batches;
    StripInput input{[this](TouchPhase phase, const std::vector<Touch>& touches) {
        batches.push_back({phase, touches});
    }};
};

TEST_F(StripInputTest, FingersKeepOneIdentityForTheirLifeInStripPoints) {
    // y 0.95 of 560 is 532, 28 units above the bottom: 14 points up the strip.
    EXPECT_TRUE(input.handleEvent(finger(SDL_FINGERDOWN, 1, 0.25f, 0.95f), 0));
    EXPECT_TRUE(input.handleEvent(finger(SDL_FINGERDOWN, 2, 0.75f, 0.99f), 0));
    EXPECT_TRUE(input.handleEvent(finger(SDL_FINGERMOTION, 1, 0.30f, 0.95f), 0));
    EXPECT_TRUE(input.handleEvent(finger(SDL_FINGERUP, 2, 0.75f, 0.99f), 0));
    EXPECT_TRUE(input.handleEvent(finger(SDL_FINGERUP, 1, 0.30f, 0.95f), 0));
    ASSERT_EQ(batches.size(), 5u);

    EXPECT_EQ(batches[0].phase, TouchPhase::Began);
    EXPECT_EQ(batches[1].phase, TouchPhase::Began);
    EXPECT_EQ(batches[2].phase, TouchPhase::Moved);
    EXPECT_EQ(batches[3].phase, TouchPhase::Ended);
    EXPECT_EQ(batches[4].phase, TouchPhase::Ended);
    for (const Batch& b : batches) ASSERT_EQ(b.touches.size(), 1u);

    const TouchId a = batches[0].touches[0].identity;
    const TouchId b = batches[1].touches[0].identity;
    EXPECT_NE(a, kNoTouch);
    EXPECT_NE(b, kNoTouch);
    EXPECT_NE(a, b);
    EXPECT_EQ(batches[2].touches[0].identity, a);
    EXPECT_EQ(batches[3].touches[0].identity, b);
    EXPECT_EQ(batches[4].touches[0].identity, a);

    const Touch& began = batches[0].touches[0];
    EXPECT_NEAR(began.location.x, 125.0, 1e-3);
    EXPECT_NEAR(began.location.y, 14.0, 1e-2);
    EXPECT_EQ(began.previousLocation, began.location);
    const Touch& moved = batches[2].touches[0];
    EXPECT_NEAR(moved.location.x, 150.0, 1e-3);
    EXPECT_NEAR(moved.previousLocation.x, 125.0, 1e-3);

    // SDL numbers fingers again from 1: the new finger is a new touch.
    batches.clear();
    input.handleEvent(finger(SDL_FINGERDOWN, 1, 0.5f, 0.95f), 0);
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_NE(batches[0].touches[0].identity, a);
    EXPECT_NE(batches[0].touches[0].identity, b);
    EXPECT_EQ(input.touchCount(), 1u);
}

TEST_F(StripInputTest, OnlyFingersThatLandOnTheStripPlayAndTheyStayOnIt) {
    // On the picture: not a touch, nor are its motion and lift.
    input.handleEvent(finger(SDL_FINGERDOWN, 4, 0.5f, 0.5f), 0);
    input.handleEvent(finger(SDL_FINGERMOTION, 4, 0.5f, 0.97f), 0);
    input.handleEvent(finger(SDL_FINGERUP, 4, 0.5f, 0.97f), 0);
    EXPECT_TRUE(batches.empty());

    // From the strip up over the picture and past the right edge: clamped to the strip.
    input.handleEvent(finger(SDL_FINGERDOWN, 5, 0.5f, 0.97f), 0);
    input.handleEvent(finger(SDL_FINGERMOTION, 5, 1.2f, 0.1f), 0);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_DOUBLE_EQ(batches[1].touches[0].location.x, 500.0);
    EXPECT_DOUBLE_EQ(batches[1].touches[0].location.y, 30.0);

    // Another window's finger is not ours.
    SDL_Event other = finger(SDL_FINGERDOWN, 6, 0.5f, 0.97f);
    other.tfinger.windowID = 8;
    EXPECT_FALSE(input.handleEvent(other, 0));
    EXPECT_EQ(batches.size(), 2u);
}

TEST_F(StripInputTest, MouseIsAFingerAndTouchMadeMouseEventsAreDropped) {
    // What SDL makes from a touch: taken (so nothing else sees it) but plays nothing.
    EXPECT_TRUE(input.handleEvent(button(SDL_MOUSEBUTTONDOWN, 100, 540, SDL_TOUCH_MOUSEID), 0));
    EXPECT_TRUE(input.handleEvent(motion(120, 540, SDL_TOUCH_MOUSEID), 0));
    EXPECT_TRUE(input.handleEvent(button(SDL_MOUSEBUTTONUP, 120, 540, SDL_TOUCH_MOUSEID), 0));
    EXPECT_TRUE(batches.empty());

    // The real mouse: down, drag, up on the strip.
    EXPECT_TRUE(input.handleEvent(button(SDL_MOUSEBUTTONDOWN, 100, 540), 0));
    EXPECT_TRUE(input.handleEvent(motion(140, 540), 0));
    EXPECT_TRUE(input.handleEvent(button(SDL_MOUSEBUTTONUP, 140, 540), 0));
    ASSERT_EQ(batches.size(), 3u);
    EXPECT_EQ(batches[0].phase, TouchPhase::Began);
    EXPECT_EQ(batches[1].phase, TouchPhase::Moved);
    EXPECT_EQ(batches[2].phase, TouchPhase::Ended);
    EXPECT_EQ(batches[0].touches[0].identity, batches[2].touches[0].identity);
    EXPECT_NEAR(batches[0].touches[0].location.x, 50.0, 1e-9);
    EXPECT_NEAR(batches[0].touches[0].location.y, 10.0, 1e-9);
    EXPECT_NEAR(batches[1].touches[0].location.x, 70.0, 1e-9);

    // Hovering and clicks on the picture are the window's, not the strip's.
    batches.clear();
    EXPECT_FALSE(input.handleEvent(motion(300, 200), 0));
    EXPECT_FALSE(input.handleEvent(button(SDL_MOUSEBUTTONDOWN, 300, 200), 0));
    EXPECT_FALSE(input.handleEvent(button(SDL_MOUSEBUTTONUP, 300, 200), 0));
    EXPECT_TRUE(batches.empty());
}

TEST_F(StripInputTest, ShiftClickLeavesAHeldFingerUntilClickedAgain) {
    // Shift-click at x 100 points: the finger stays down after the release.
    input.handleEvent(button(SDL_MOUSEBUTTONDOWN, 200, 540), KMOD_LSHIFT);
    input.handleEvent(button(SDL_MOUSEBUTTONUP, 200, 540), KMOD_LSHIFT);
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0].phase, TouchPhase::Began);
    const TouchId held = batches[0].touches[0].identity;
    EXPECT_EQ(input.touchCount(), 1u);
    ASSERT_EQ(input.heldFingers().size(), 1u);
    EXPECT_NEAR(input.heldFingers()[0].x, 100.0, 1e-9);
    EXPECT_EQ(input.location(held), input.heldFingers()[0]);

    // A plain drag elsewhere is a second finger: the two ends of a loop.
    input.handleEvent(button(SDL_MOUSEBUTTONDOWN, 600, 540), 0);
    input.handleEvent(motion(640, 540), 0);
    input.handleEvent(button(SDL_MOUSEBUTTONUP, 640, 540), 0);
    ASSERT_EQ(batches.size(), 4u);
    EXPECT_NE(batches[1].touches[0].identity, held);
    EXPECT_EQ(batches[3].phase, TouchPhase::Ended);
    EXPECT_NE(batches[3].touches[0].identity, held);
    EXPECT_EQ(input.touchCount(), 1u);

    // A click on the marker lifts the held finger and plays nothing else.
    batches.clear();
    input.handleEvent(button(SDL_MOUSEBUTTONDOWN, 206, 530), 0);
    input.handleEvent(motion(300, 530), 0);
    input.handleEvent(button(SDL_MOUSEBUTTONUP, 300, 530), 0);
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0].phase, TouchPhase::Ended);
    EXPECT_EQ(batches[0].touches[0].identity, held);
    EXPECT_EQ(input.touchCount(), 0u);
    EXPECT_FALSE(input.location(held).has_value());
}

TEST_F(StripInputTest, FocusLossCancelsEveryFingerAtOnce) {
    input.handleEvent(button(SDL_MOUSEBUTTONDOWN, 200, 540), KMOD_LSHIFT);
    input.handleEvent(button(SDL_MOUSEBUTTONUP, 200, 540), KMOD_LSHIFT);  // held
    input.handleEvent(finger(SDL_FINGERDOWN, 1, 0.6f, 0.97f), 0);         // a finger
    input.handleEvent(button(SDL_MOUSEBUTTONDOWN, 900, 540), 0);          // the mouse
    ASSERT_EQ(batches.size(), 3u);
    EXPECT_EQ(input.touchCount(), 3u);

    input.handleEvent(focusLost(), 0);
    ASSERT_EQ(batches.size(), 4u);
    EXPECT_EQ(batches[3].phase, TouchPhase::Cancelled);
    std::vector<TouchId> cancelled;
    for (const Touch& t : batches[3].touches) cancelled.push_back(t.identity);
    std::vector<TouchId> began;
    for (int i = 0; i < 3; ++i) began.push_back(batches[i].touches[0].identity);
    std::sort(cancelled.begin(), cancelled.end());
    std::sort(began.begin(), began.end());
    EXPECT_EQ(cancelled, began);
    EXPECT_EQ(input.touchCount(), 0u);
    EXPECT_TRUE(input.heldFingers().empty());

    // What the cancelled fingers still send plays nothing; a new click plays again.
    input.handleEvent(finger(SDL_FINGERMOTION, 1, 0.7f, 0.97f), 0);
    input.handleEvent(finger(SDL_FINGERUP, 1, 0.7f, 0.97f), 0);
    input.handleEvent(motion(950, 540), 0);
    input.handleEvent(button(SDL_MOUSEBUTTONUP, 950, 540), 0);
    EXPECT_EQ(batches.size(), 4u);
    input.handleEvent(focusLost(), 0);  // nothing down: no empty batch
    EXPECT_EQ(batches.size(), 4u);
    input.handleEvent(button(SDL_MOUSEBUTTONDOWN, 100, 540), 0);
    ASSERT_EQ(batches.size(), 5u);
    EXPECT_EQ(batches[4].phase, TouchPhase::Began);
}

TEST_F(StripInputTest, ResizedWindowMovesTheStrip) {
    input.setGeometry(600.0, 300.0, 3.0);  // strip: bottom 90 units, 200 x 30 points
    EXPECT_DOUBLE_EQ(input.stripWidth(), 200.0);
    EXPECT_FALSE(input.onStrip(10.0, 209.0));
    EXPECT_TRUE(input.onStrip(10.0, 210.0));
    input.handleEvent(button(SDL_MOUSEBUTTONDOWN, 300, 300 - 45), 0);
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_NEAR(batches[0].touches[0].location.x, 100.0, 1e-9);
    EXPECT_NEAR(batches[0].touches[0].location.y, 15.0, 1e-9);

    // A window lower than the strip is all strip; nonsense sizes are refused.
    input.setGeometry(600.0, 40.0, 2.0);
    EXPECT_DOUBLE_EQ(input.stripHeight(), 20.0);
    EXPECT_TRUE(input.onStrip(0.0, 0.0));
    input.setGeometry(0.0, -1.0, 2.0);
    EXPECT_DOUBLE_EQ(input.stripWidth(), 300.0);
}

}  // namespace
}  // namespace vornik
