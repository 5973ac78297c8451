// Fingers and the mouse on the strip: identities, phases, touch-made mouse events, the held
// mouse finger and focus loss.

#include <gtest/gtest.h>

#include <vector>

#include "app/StripInput.h"

namespace vornik {
namespace {

using Phases = std::vector<TouchPhase>;
constexpr Uint32 kWindow = 7;

SDL_Event finger(Uint32 type, SDL_FingerID id, float nx, float ny) {
    SDL_Event e{};
    e.tfinger = {type, 0, 3, id, nx, ny, 0, 0, 0, kWindow};
    return e;
}
// A button press, release or (any other type) motion of the mouse `which`.
SDL_Event mouse(Uint32 type, int x, int y, Uint32 which = 0) {
    SDL_Event e{};
    if (type == SDL_MOUSEMOTION) {
        e.motion = {type, 0, kWindow, which, 0, x, y, 0, 0};
    } else {
        e.button = {type, 0, kWindow, which, SDL_BUTTON_LEFT, 0, 1, 0, x, y};
    }
    return e;
}

// A 1000 x 560 window at zoom 2: the strip is the bottom 60 units, 500 x 30 points.
class StripInputTest : public ::testing::Test {
protected:
    StripInputTest() {
        input.setGeometry(1000.0, 560.0, 2.0);
        input.setWindowID(kWindow);
    }
    void click(int x, int y, unsigned mod = 0) {
        input.handleEvent(mouse(SDL_MOUSEBUTTONDOWN, x, y), mod);
        input.handleEvent(mouse(SDL_MOUSEBUTTONUP, x, y), mod);
    }
    void loseFocus() {
        SDL_Event e{};
        e.window.type = SDL_WINDOWEVENT;
        e.window.windowID = kWindow;
        e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
        input.handleEvent(e, 0);
    }
    Phases phases() const {
        Phases p;
        for (const auto& b : batches) p.push_back(b.first);
        return p;
    }
    const Touch& touch(std::size_t batch) const { return batches.at(batch).second.at(0); }
    TouchId id(std::size_t batch) const { return touch(batch).identity; }
    std::vector<std::pair<TouchPhase, std::vector<Touch>>> batches;
    StripInput input{[this](TouchPhase phase, const std::vector<Touch>& touches) {
        batches.emplace_back(phase, touches);
    }};
};

TEST_F(StripInputTest, FingersKeepOneIdentityForTheirLifeInStripPoints) {
    // y 0.95 of 560 is 532, 28 units above the bottom: 14 points up the strip.
    for (const SDL_Event& e :
         {finger(SDL_FINGERDOWN, 1, 0.25f, 0.95f), finger(SDL_FINGERDOWN, 2, 0.75f, 0.99f),
          finger(SDL_FINGERMOTION, 1, 0.30f, 0.95f), finger(SDL_FINGERUP, 2, 0.75f, 0.99f),
          finger(SDL_FINGERUP, 1, 0.30f, 0.95f)}) {
        EXPECT_TRUE(input.handleEvent(e, 0));
    }
    using enum TouchPhase;
    ASSERT_EQ(phases(), (Phases{Began, Began, Moved, Ended, Ended}));
    const TouchId a = id(0), b = id(1);
    EXPECT_TRUE(a != kNoTouch && b != kNoTouch && a != b);
    EXPECT_EQ((std::vector{id(2), id(3), id(4)}), (std::vector{a, b, a}));
    EXPECT_NEAR(touch(0).location.y, 14.0, 1e-2);
    EXPECT_NEAR(touch(2).location.x, 150.0, 1e-3);
    EXPECT_NEAR(touch(2).previousLocation.x, 125.0, 1e-3);
    // SDL numbers fingers again from 1: the new finger is a new touch.
    input.handleEvent(finger(SDL_FINGERDOWN, 1, 0.5f, 0.95f), 0);
    EXPECT_TRUE(id(5) != a && id(5) != b);
}

TEST_F(StripInputTest, OnlyFingersAndMiceOnTheStripPlayTouchMadeMouseEventsAreDropped) {
    // Down on the picture: not a touch, nor are its motion and lift.
    for (Uint32 type : {SDL_FINGERDOWN, SDL_FINGERMOTION, SDL_FINGERUP}) {
        input.handleEvent(finger(type, 4, 0.5f, type == SDL_FINGERDOWN ? 0.5f : 0.97f), 0);
    }
    // From the strip up over the picture and past the right edge: clamped to the strip.
    input.handleEvent(finger(SDL_FINGERDOWN, 5, 0.5f, 0.97f), 0);
    input.handleEvent(finger(SDL_FINGERMOTION, 5, 1.2f, 0.1f), 0);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(touch(1).location, (Point{500.0, 30.0}));
    SDL_Event other = finger(SDL_FINGERDOWN, 6, 0.5f, 0.97f);  // another window's
    other.tfinger.windowID = kWindow + 1;
    EXPECT_FALSE(input.handleEvent(other, 0));
    batches.clear();
    // What SDL makes from a touch is taken (so nothing else sees it) but plays nothing; the real
    // mouse plays; over the picture it is the window's.
    for (Uint32 which : {Uint32{SDL_TOUCH_MOUSEID}, Uint32{0}}) {
        EXPECT_TRUE(input.handleEvent(mouse(SDL_MOUSEBUTTONDOWN, 100, 540, which), 0));
        EXPECT_TRUE(input.handleEvent(mouse(SDL_MOUSEMOTION, 140, 540, which), 0));
        EXPECT_TRUE(input.handleEvent(mouse(SDL_MOUSEBUTTONUP, 140, 540, which), 0));
    }
    for (Uint32 type : {SDL_MOUSEMOTION, SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
        EXPECT_FALSE(input.handleEvent(mouse(type, 300, 200), 0));
    }
    using enum TouchPhase;
    ASSERT_EQ(phases(), (Phases{Began, Moved, Ended}));
    EXPECT_EQ(touch(1).location, (Point{70.0, 10.0}));
}

TEST_F(StripInputTest, ShiftClickLeavesAHeldFingerUntilClickedAgain) {
    click(200, 540, KMOD_LSHIFT);  // x 100 points: the finger stays down
    ASSERT_EQ(phases(), Phases{TouchPhase::Began});
    const TouchId held = id(0);
    ASSERT_EQ(input.heldFingers().size(), 1u);
    EXPECT_NEAR(input.heldFingers()[0].x, 100.0, 1e-9);
    // A plain click elsewhere is a second finger: the two ends of a loop.
    click(600, 540);
    ASSERT_EQ(batches.size(), 3u);
    EXPECT_NE(id(1), held);
    EXPECT_EQ(input.touchCount(), 1u);
    // A click on the marker lifts the held finger, even dragged, and plays nothing else.
    batches.clear();
    input.handleEvent(mouse(SDL_MOUSEBUTTONDOWN, 206, 530), 0);
    input.handleEvent(mouse(SDL_MOUSEMOTION, 300, 530), 0);
    input.handleEvent(mouse(SDL_MOUSEBUTTONUP, 300, 530), 0);
    ASSERT_EQ(phases(), Phases{TouchPhase::Ended});
    EXPECT_EQ(id(0), held);
    EXPECT_EQ(input.touchCount(), 0u);
    EXPECT_FALSE(input.location(held).has_value());
}

TEST_F(StripInputTest, FocusLossCancelsTheFingersDownAtOnceButNotTheHeldOne) {
    click(200, 540, KMOD_LSHIFT);                                  // held
    input.handleEvent(finger(SDL_FINGERDOWN, 1, 0.6f, 0.97f), 0);  // a finger
    input.handleEvent(mouse(SDL_MOUSEBUTTONDOWN, 900, 540), 0);    // the mouse
    loseFocus();
    ASSERT_EQ(batches.size(), 4u);
    EXPECT_EQ(batches[3].first, TouchPhase::Cancelled);
    EXPECT_EQ(batches[3].second.size(), 2u);
    EXPECT_EQ(input.touchCount(), 1u);
    EXPECT_TRUE(input.location(id(0)).has_value());  // the held one
    // What the cancelled fingers still send plays nothing, nor does a second focus loss.
    input.handleEvent(finger(SDL_FINGERUP, 1, 0.7f, 0.97f), 0);
    input.handleEvent(mouse(SDL_MOUSEBUTTONUP, 950, 540), 0);
    loseFocus();
    EXPECT_EQ(batches.size(), 4u);
    input.handleEvent(mouse(SDL_MOUSEBUTTONDOWN, 100, 540), 0);  // a new click plays again
    ASSERT_EQ(batches.size(), 5u);
    input.cancelAll();  // a bar switch lifts the held finger too
    EXPECT_EQ(batches.back().second.size(), 2u);
    EXPECT_EQ(input.touchCount(), 0u);
}

TEST_F(StripInputTest, ResizedWindowMovesTheStrip) {
    input.setGeometry(600.0, 300.0, 3.0);  // the bottom 90 units, 200 x 30 points
    EXPECT_FALSE(input.onStrip(10.0, 209.0));
    EXPECT_TRUE(input.onStrip(10.0, 210.0));
    input.handleEvent(mouse(SDL_MOUSEBUTTONDOWN, 300, 300 - 45), 0);
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(touch(0).location, (Point{100.0, 15.0}));
    // A window lower than the strip is all strip; nonsense sizes are refused.
    input.setGeometry(600.0, 40.0, 2.0);
    EXPECT_DOUBLE_EQ(input.stripHeight(), 20.0);
    EXPECT_TRUE(input.onStrip(0.0, 0.0));
    input.setGeometry(0.0, -1.0, 2.0);
    EXPECT_DOUBLE_EQ(input.stripWidth(), 300.0);
}

}  // namespace
}  // namespace vornik
