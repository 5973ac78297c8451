#pragma once
// The instrument view on a strip of a given size, with samples and voices set up the way the
// loader and the touch handlers leave them.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "display/MainView.h"
#include "display/Transaction.h"
#include "support/SampleFixtures.h"

namespace vornik::test {

struct Strip {
    ManualClock clock;
    ScopedLayerClock layerClock{clock};
    RunLoop loop{clock};
    MainView view{loop};
    // The host sizes the view's layer; the first update measures it.
    explicit Strip(double width = 685.0, double height = 30.0) { resize(width, height); }
    void resize(double w, double h) { view.layer()->setBounds(Rect::make(0.0, 0.0, w, h)); }
    void load(std::unique_ptr<SampleSnapshot> s) { view.mixer().sample().publish(std::move(s)); }
    void loadAndMeasure(std::unique_ptr<SampleSnapshot> s) {
        load(std::move(s));
        view.update();
    }
    const std::vector<LayerPtr>& bars() const { return view.waveform()->sublayers(); }
    const std::vector<LayerPtr>& markers() const { return view.markersLayer()->sublayers(); }
    const std::vector<LayerPtr>& highlights() const { return view.highlightsLayer()->sublayers(); }
    // A voice as a touch handler starts it: every field first, `active` last.
    Playhead& startVoice(std::size_t i, int mode, double pos, double envelope, TouchId t = 1) {
        Playhead& p = view.playheads()[i];
        p.setMode(mode);
        p.setPos(pos);
        p.setEnvelope(envelope);
        p.setTouchid(t);
        p.setFadeOut(false);
        p.setActive(true);
        return p;
    }
    // Hands the display a capture of the final mix, as the tap does.
    void capture(const std::vector<float>& l, const std::vector<float>& r) {
        view.audioGraph().oscilloscope().write(l.data(), r.data(), static_cast<int>(l.size()));
    }
};

// One sine period every `period` frames, at `level`.
inline std::vector<float> sine(std::size_t frames, double period, float level) {
    std::vector<float> v(frames);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = level * static_cast<float>(std::sin(2.0 * M_PI * i / period));
    return v;
}

inline void expectColour(const Color& actual, const Color& expected, double tolerance = 1e-6) {
    EXPECT_NEAR(actual.r, expected.r, tolerance);
    EXPECT_NEAR(actual.g, expected.g, tolerance);
    EXPECT_NEAR(actual.b, expected.b, tolerance);
    EXPECT_NEAR(actual.a, expected.a, tolerance);
}

}  // namespace vornik::test
