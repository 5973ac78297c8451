#include "app/StripInput.h"

#include <algorithm>
#include <cmath>

#include "app/AppConstants.h"

namespace vornik {

double stripZoomToFit(double zoom, double windowWidth, double minimumWidth) {
    if (!(minimumWidth > 0.0) || !(windowWidth > 0.0)) return zoom;
    return std::min(zoom, windowWidth / minimumWidth);
}

StripInput::StripInput(Sink sink) : sink_(std::move(sink)) {}

void StripInput::setGeometry(double windowWidth, double windowHeight, double zoom) {
    if (!(windowWidth > 0.0) || !(windowHeight > 0.0) || !(zoom > 0.0)) return;
    windowWidth_ = windowWidth;
    windowHeight_ = windowHeight;
    zoom_ = zoom;
}

double StripInput::stripHeight() const {
    // A window lower than the strip is all strip.
    return std::min(app::kStripHeight, windowHeight_ / zoom_);
}

bool StripInput::onStrip(double x, double y) const {
    const double top = windowHeight_ - stripHeight() * zoom_;
    return x >= 0.0 && x < windowWidth_ && y >= top && y < windowHeight_;
}

Point StripInput::toStrip(double x, double y) const {
    const double px = std::clamp(x / zoom_, 0.0, stripWidth());
    const double py = std::clamp((windowHeight_ - y) / zoom_, 0.0, stripHeight());
    return Point{std::isnan(px) ? 0.0 : px, std::isnan(py) ? 0.0 : py};
}

void StripInput::deliver(TouchPhase phase, const Touch& touch) {
    batch_.clear();
    batch_.push_back(touch);
    if (sink_) sink_(phase, batch_);
}

StripInput::Finger* StripInput::findFinger(std::int64_t device, std::int64_t finger) {
    for (Finger& f : fingers_) {
        if (f.device == device && f.finger == finger) return &f;
    }
    return nullptr;
}

// --- Fingers --------------------------------------------------------------------------------

void StripInput::fingerDown(std::int64_t device, std::int64_t finger, double nx, double ny) {
    const double x = nx * windowWidth_;
    const double y = ny * windowHeight_;
    if (!onStrip(x, y)) return;  // landed on the picture: not the strip's
    if (Finger* old = findFinger(device, finger)) {
        // The device reused a number whose lift we never saw: that finger is gone.
        Touch gone = old->touch;
        std::erase_if(fingers_, [&](const Finger& f) { return &f == old; });
        deliver(TouchPhase::Cancelled, gone);
    }
    const Point p = toStrip(x, y);
    Finger f{device, finger, Touch{newIdentity(), p, p}};
    fingers_.push_back(f);
    deliver(TouchPhase::Began, f.touch);
}

void StripInput::fingerMotion(std::int64_t device, std::int64_t finger, double nx, double ny) {
    Finger* f = findFinger(device, finger);
    if (f == nullptr) return;
    f->touch.previousLocation = f->touch.location;
    f->touch.location = toStrip(nx * windowWidth_, ny * windowHeight_);
    deliver(TouchPhase::Moved, f->touch);
}

void StripInput::fingerUp(std::int64_t device, std::int64_t finger, double nx, double ny) {
    Finger* f = findFinger(device, finger);
    if (f == nullptr) return;
    Touch t = f->touch;
    t.previousLocation = t.location;
    t.location = toStrip(nx * windowWidth_, ny * windowHeight_);
    std::erase_if(fingers_, [&](const Finger& g) { return &g == f; });
    deliver(TouchPhase::Ended, t);
}

// --- The mouse ------------------------------------------------------------------------------

bool StripInput::mouseDown(double x, double y, bool shift) {
    if (mouse_) return true;  // pressed again without a release in between: still the same finger
    swallowingClick_ = false;
    if (!onStrip(x, y)) return false;
    const Point p = toStrip(x, y);
    // A click on a held finger lifts it, and does nothing else.
    auto nearest = held_.end();
    double best = app::kHeldFingerHitDistance;
    for (auto it = held_.begin(); it != held_.end(); ++it) {
        const double d = std::fabs(it->location.x - p.x);
        if (d <= best) {
            best = d;
            nearest = it;
        }
    }
    if (nearest != held_.end()) {
        Touch t = *nearest;
        held_.erase(nearest);
        swallowingClick_ = true;
        deliver(TouchPhase::Ended, t);
        return true;
    }
    mouse_ = Touch{newIdentity(), p, p};
    mouseHolds_ = shift;
    deliver(TouchPhase::Began, *mouse_);
    return true;
}

void StripInput::mouseMotion(double x, double y) {
    if (!mouse_) return;
    mouse_->previousLocation = mouse_->location;
    mouse_->location = toStrip(x, y);
    deliver(TouchPhase::Moved, *mouse_);
}

void StripInput::mouseUp(double x, double y) {
    swallowingClick_ = false;
    if (!mouse_) return;
    Touch t = *mouse_;
    mouse_.reset();
    const Point p = toStrip(x, y);
    if (p != t.location) {
        t.previousLocation = t.location;
        t.location = p;
        deliver(TouchPhase::Moved, t);
    }
    if (mouseHolds_) {
        held_.push_back(t);  // stays down until a click lifts it
        return;
    }
    t.previousLocation = t.location;
    deliver(TouchPhase::Ended, t);
}

// --- Everything at once ---------------------------------------------------------------------

void StripInput::cancel(bool heldToo) {
    // The button may still be down: its motion and release no longer play.
    swallowingClick_ = swallowingClick_ || mouse_.has_value();
    batch_.clear();
    for (const Finger& f : fingers_) batch_.push_back(f.touch);
    if (mouse_) batch_.push_back(*mouse_);
    if (heldToo) batch_.insert(batch_.end(), held_.begin(), held_.end());
    fingers_.clear();
    mouse_.reset();
    if (heldToo) held_.clear();
    if (!batch_.empty() && sink_) sink_(TouchPhase::Cancelled, batch_);
}

std::size_t StripInput::touchCount() const {
    return fingers_.size() + (mouse_ ? 1 : 0) + held_.size();
}

std::optional<Point> StripInput::location(TouchId identity) const {
    for (const Finger& f : fingers_) {
        if (f.touch.identity == identity) return f.touch.location;
    }
    if (mouse_ && mouse_->identity == identity) return mouse_->location;
    for (const Touch& t : held_) {
        if (t.identity == identity) return t.location;
    }
    return std::nullopt;
}

std::vector<Point> StripInput::heldFingers() const {
    std::vector<Point> points;
    for (const Touch& t : held_) points.push_back(t.location);
    return points;
}

// --- SDL ------------------------------------------------------------------------------------

bool StripInput::handleEvent(const SDL_Event& event, unsigned modifiers) {
    auto ours = [this](std::uint32_t id) { return windowID_ == 0 || id == 0 || id == windowID_; };
    switch (event.type) {
        case SDL_FINGERDOWN:
        case SDL_FINGERMOTION:
        case SDL_FINGERUP: {
            const SDL_TouchFingerEvent& e = event.tfinger;
            if (!ours(e.windowID)) return false;
            if (event.type == SDL_FINGERDOWN) fingerDown(e.touchId, e.fingerId, e.x, e.y);
            if (event.type == SDL_FINGERMOTION) fingerMotion(e.touchId, e.fingerId, e.x, e.y);
            if (event.type == SDL_FINGERUP) fingerUp(e.touchId, e.fingerId, e.x, e.y);
            return true;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            const SDL_MouseButtonEvent& e = event.button;
            if (e.which == SDL_TOUCH_MOUSEID) return true;  // a finger already told us
            if (!ours(e.windowID) || e.button != SDL_BUTTON_LEFT) return false;
            if (event.type == SDL_MOUSEBUTTONDOWN) {
                return mouseDown(e.x, e.y, (modifiers & KMOD_SHIFT) != 0);
            }
            const bool wasOurs = mouse_.has_value() || swallowingClick_;
            mouseUp(e.x, e.y);
            return wasOurs;
        }
        case SDL_MOUSEMOTION: {
            const SDL_MouseMotionEvent& e = event.motion;
            if (e.which == SDL_TOUCH_MOUSEID) return true;
            if (!ours(e.windowID)) return false;
            if (!mouse_) return false;  // hovering: the window's business (the link)
            mouseMotion(e.x, e.y);
            return true;
        }
        case SDL_WINDOWEVENT:
            if (!ours(event.window.windowID)) return false;
            if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
                cancelPressed();
                return false;  // the window has its own business with focus
            }
            return false;
        default:
            return false;
    }
}

}  // namespace vornik
