#pragma once
// An instrument on a manual clock, with fingers that remember where they were.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/RunLoop.h"
#include "display/MainView.h"
#include "display/Transaction.h"
#include "performance/TouchEvent.h"
#include "sample/Slices.h"
#include "support/SampleFixtures.h"

namespace vornik::test {

struct Instrument {
    static constexpr std::string_view kModes[] = {"slicer", "looper", "bow", "tape"};
    ManualClock clock;
    RunLoop loop{clock};
    ScopedLayerClock layerClock{clock};
    MainView view{loop};
    std::map<TouchId, Point> at;  // the fingers down, where they were last reported
    // A strip `width` x 30 points (0: unmeasured) over `frames` constant frames (0: none).
    Instrument(int mode, std::size_t frames, double sampleRate = 48000.0, double width = 1000.0) {
        if (width > 0) measure(width, 30.0);
        if (frames > 0) load(std::vector<float>(frames, 0.25f), sampleRate);
        view.setPlayMode(mode);
    }
    void measure(double width, double height) {
        view.layer()->setBounds(Rect::make(0.0, 0.0, width, height));
        view.setTouchBarSize({width, height});
    }
    void load(const std::vector<float>& plane, double sampleRate = 48000.0) {
        view.mixer().sample().publish(snapshotOf(plane, {}, sampleRate));
    }
    // n slices, laid out as the slice display does.
    void slice(int n) {
        view.setNumSlices(n);
        setSliceEnds(view.slices());
    }
    Touch touch(TouchId id, double x) {
        const auto it = at.find(id);
        const Point now{x, 15.0};
        Touch t{id, now, it != at.end() ? it->second : now};
        at[id] = now;
        return t;
    }
    void send(std::vector<Touch> TouchEvent::*phase, TouchId id, double x) {
        TouchEvent e;
        (e.*phase).push_back(touch(id, x));
        view.handleTouchEvent(e);
    }
    void down(TouchId id, double x) { send(&TouchEvent::began, id, x); }
    void move(TouchId id, double x) { send(&TouchEvent::moved, id, x); }
    void up(TouchId id) { send(&TouchEvent::ended, id, at[id].x); }
    // One event per step: "+1@200" finger 1 lands at x = 200, "1@250" moves, "-1" lifts, "!1"
    // is cancelled; a mode's name chooses that mode.
    void play(const std::string& gesture) {
        std::istringstream steps(gesture);
        for (std::string s; steps >> s;) {
            const auto mode = std::find(std::begin(kModes), std::end(kModes), s);
            if (mode != std::end(kModes)) {
                view.setPlayMode(static_cast<int>(mode - std::begin(kModes)));
                continue;
            }
            const bool moved = std::isdigit(static_cast<unsigned char>(s[0]));
            const TouchId id = std::stoull(s.substr(moved ? 0 : 1));
            const double x =
                s.find('@') == std::string::npos ? at[id].x : std::stod(s.substr(s.find('@') + 1));
            send(s[0] == '-'   ? &TouchEvent::ended
                 : s[0] == '!' ? &TouchEvent::cancelled
                 : s[0] == '+' ? &TouchEvent::began
                               : &TouchEvent::moved,
                 id, x);
        }
    }
    Playhead& voice(std::size_t i) { return view.playheads()[i]; }
    // Voice i as "mode finger start..end amplitude" (finger 0 once released), or "off".
    std::string state(std::size_t i) {
        const Playhead& v = voice(i);
        char s[128] = "off";
        if (v.active()) {
            std::snprintf(s, sizeof s, "%s %llu %.6g..%.6g %.4g", kModes[v.mode() & 3].data(),
                          static_cast<unsigned long long>(v.touchid()), v.frameStart(),
                          v.frameEnd(), v.amp());
        }
        return s;
    }
    // Voice i's region box or speed bar: "x,y widthxheight".
    std::string region(std::size_t i) { return box(*view.voiceLayers(i).regionLayer); }
    std::string speedBar(std::size_t i) { return box(*view.voiceLayers(i).speedLayer); }
    static std::string box(const Layer& l) {
        char s[128];
        std::snprintf(s, sizeof s, "%.6g,%.6g %.6gx%.6g", l.position().x, l.position().y,
                      l.bounds().size.width, l.bounds().size.height);
        return s;
    }
};

}  // namespace vornik::test
