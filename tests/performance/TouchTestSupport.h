#pragma once
// An instrument on a manual clock with a measured strip, and fingers that remember where they
// were, so moves carry their previous location as the strip would report it.

#include <map>
#include <memory>
#include <vector>

#include "base/RunLoop.h"
#include "display/MainView.h"
#include "display/Transaction.h"
#include "performance/TouchEvent.h"
#include "support/SampleFixtures.h"

namespace vornik::test {

struct Instrument {
    ManualClock clock;
    RunLoop loop{clock};
    ScopedLayerClock layerClock{clock};
    MainView view{loop};
    std::map<TouchId, Point> at;  // the fingers down, where they were last reported

    Instrument() = default;
    Instrument(double width, double height) { measure(width, height); }

    // What the display update does once the strip is laid out: the layer's bounds and the
    // measured size agree.
    void measure(double width, double height) {
        view.layer()->setBounds(Rect::make(0.0, 0.0, width, height));
        view.setTouchBarSize({width, height});
    }

    void load(const std::vector<float>& plane, double sampleRate = 48000.0) {
        view.mixer().sample().publish(snapshotOf(plane, {}, sampleRate));
    }

    Touch touch(TouchId id, double x) {
        const auto it = at.find(id);
        const Point now{x, 15.0};
        Touch t{id, now, it != at.end() ? it->second : now};
        at[id] = now;
        return t;
    }

    void down(TouchId id, double x) {
        TouchEvent e;
        e.began.push_back(touch(id, x));
        view.handleTouchEvent(e);
    }
    void move(TouchId id, double x) {
        TouchEvent e;
        e.moved.push_back(touch(id, x));
        view.handleTouchEvent(e);
    }
    void up(TouchId id) {
        TouchEvent e;
        e.ended.push_back(touch(id, at.count(id) ? at[id].x : 0.0));
        at.erase(id);
        view.handleTouchEvent(e);
    }
    void cancel(TouchId id) {
        TouchEvent e;
        e.cancelled.push_back(touch(id, at.count(id) ? at[id].x : 0.0));
        at.erase(id);
        view.handleTouchEvent(e);
    }

    Playhead& voice(std::size_t i) { return view.playheads()[i]; }
    Layer& region(std::size_t i) { return *view.voiceLayers(i).regionLayer; }
    Layer& speedBar(std::size_t i) { return *view.voiceLayers(i).speedLayer; }
    int sounding() const { return view.activePlayheads(); }

    // Every voice switched on, as if 64 fingers were playing.
    void fillPool() {
        for (Playhead& v : view.playheads()) v.setActive(true);
    }
};

}  // namespace vornik::test
