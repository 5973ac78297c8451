#pragma once
// Turns the window's finger and mouse events into the strip's touches. Thread: main.
//
// The strip is the bottom band of the window, kStripHeight points high at `zoom` window units per
// point. A finger that lands on it becomes a touch with a fresh 64-bit identity that it keeps until
// it lifts or is cancelled; its locations are in strip points (origin bottom-left, y up), clamped
// to the strip. Each event is delivered as one batch of touches sharing a phase.
//
// The mouse is a finger too. A click with Shift leaves its finger down where the button was
// released (a held finger, shown as a marker) until a click near it lifts it, so a mouse can hold
// one end of a loop while it plays the other. SDL's mouse events made from touches are dropped
// (the finger events already carry those touches). Losing focus cancels the fingers and the
// pressed button, whose lifting the window will not hear of; held fingers stay down, so a loop
// set up on purpose keeps playing while another window (a file chooser) has the focus.

#include <SDL_events.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/Controls.h"  // TouchPhase
#include "base/Touch.h"

namespace vornik {

// The zoom (window units per point) the strip is drawn at in a window `windowWidth` units wide:
// the one asked for, or less where the strip would be narrower than `minimumWidth` points.
double stripZoomToFit(double zoom, double windowWidth, double minimumWidth);

class StripInput {
public:
    // Receives each batch; the touches are valid only during the call.
    using Sink = std::function<void(TouchPhase, const std::vector<Touch>&)>;

    explicit StripInput(Sink sink);

    // The window's size in window units (SDL's window coordinates) and the strip's zoom.
    void setGeometry(double windowWidth, double windowHeight, double zoom);
    // The strip's size in points.
    double stripWidth() const { return windowWidth_ / zoom_; }
    double stripHeight() const;
    // Whether a window point (y down) lies on the strip.
    bool onStrip(double x, double y) const;
    // A window point (y down) in strip points (y up), clamped to the strip.
    Point toStrip(double x, double y) const;

    // The window whose events count; events of other windows are ignored (0 accepts any).
    void setWindowID(std::uint32_t id) { windowID_ = id; }

    // Handles an SDL event if it concerns the strip (fingers, the left mouse button, motion,
    // focus loss). `modifiers` is SDL's keyboard modifier state at the event. Returns true when
    // the event was the strip's: the caller gives it to nothing else.
    bool handleEvent(const SDL_Event& event, unsigned modifiers);

    // Fingers, with SDL's device and finger numbers and window-normalised x, y (y down).
    void fingerDown(std::int64_t device, std::int64_t finger, double nx, double ny);
    void fingerMotion(std::int64_t device, std::int64_t finger, double nx, double ny);
    void fingerUp(std::int64_t device, std::int64_t finger, double nx, double ny);

    // The left mouse button, in window units (y down). mouseDown returns true when the strip
    // took the click.
    bool mouseDown(double x, double y, bool shift);
    void mouseMotion(double x, double y);
    void mouseUp(double x, double y);

    // Cancels every finger, held ones included (the bar changed): one batch, phase Cancelled.
    void cancelAll() { cancel(true); }
    // The same for the fingers really down and the pressed button (the window lost focus).
    void cancelPressed() { cancel(false); }

    // Fingers down now, held ones included.
    std::size_t touchCount() const;
    // Where a finger is now, if it is down.
    std::optional<Point> location(TouchId identity) const;
    // The held fingers' locations, for their markers.
    std::vector<Point> heldFingers() const;

private:
    struct Finger {
        std::int64_t device = 0;
        std::int64_t finger = 0;
        Touch touch;
    };

    TouchId newIdentity() { return nextIdentity_++; }
    void deliver(TouchPhase phase, const Touch& touch);
    void cancel(bool heldToo);
    Finger* findFinger(std::int64_t device, std::int64_t finger);

    Sink sink_;
    std::uint32_t windowID_ = 0;
    double windowWidth_ = 1.0;
    double windowHeight_ = 1.0;
    double zoom_ = 2.0;
    TouchId nextIdentity_ = 1;

    std::vector<Finger> fingers_;
    std::optional<Touch> mouse_;    // the finger of the pressed left button
    bool mouseHolds_ = false;       // it was pressed with Shift: it stays down on release
    bool swallowingClick_ = false;  // this press lifted a held finger: its motion does nothing
    std::vector<Touch> held_;       // fingers left down by Shift-clicks
    std::vector<Touch> batch_;      // reused for each delivery
};

}  // namespace vornik
