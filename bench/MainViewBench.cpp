// The instrument view's drawing cost.
//
// Display/frame: one display frame of a 1085 x 30 point strip at zoom 2 (2170 x 60 pixels) with
// all 64 voices playing (a quarter in each mode, region boxes and speed bars laid out), slice
// markers, a slice flash and a new oscilloscope capture every frame: update() plus one render.
// Target: 4 ms (a quarter of a 60 Hz frame). Display/update is the update() part alone;
// Display/frameAsShown draws as the window does (renderIfChanged: what stayed is kept).
//
// Display/waveform10min: renderWaveform() of a 10-minute stereo sample at 48 kHz (28.8 million
// frames per channel) on a 1085-point strip. Target: 50 ms.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "display/MainView.h"
#include "display/Renderer.h"
#include "display/Transaction.h"

using namespace vornik;

namespace {

constexpr double kStripWidth = 1085.0;
constexpr double kStripHeight = 30.0;
constexpr double kZoom = 2.0;

// A stereo sample of `frames` frames: a swept tone under a slow tremolo, with bursts of a
// higher partial, so that columns differ in level and in zero crossings.
std::unique_ptr<SampleSnapshot> stereoSample(std::uint32_t frames) {
    std::shared_ptr<float[]> planes(new float[2 * static_cast<std::size_t>(frames)]);
    float* left = planes.get();
    float* right = planes.get() + frames;
    // Oscillators by rotation, so ten minutes take a fraction of a second to make.
    double c = 1.0, s = 0.0, c2 = 1.0, s2 = 0.0;
    const double w = 2.0 * M_PI * 220.0 / 48000.0, w2 = 2.0 * M_PI * 3520.0 / 48000.0;
    const double cw = std::cos(w), sw = std::sin(w), cw2 = std::cos(w2), sw2 = std::sin(w2);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double tremolo = 0.5 + 0.4 * std::sin(i * (2.0 * M_PI / 480000.0));
        const double burst = (i / 24000) % 3 == 0 ? 0.3 : 0.0;
        left[i] = static_cast<float>(tremolo * s + burst * s2);
        right[i] = static_cast<float>(tremolo * 0.8 * s - burst * s2);
        const double nc = c * cw - s * sw, ns = s * cw + c * sw;
        const double nc2 = c2 * cw2 - s2 * sw2, ns2 = s2 * cw2 + c2 * sw2;
        c = nc, s = ns, c2 = nc2, s2 = ns2;
        if (i % 4096 == 0) {  // keep the rotations on the unit circle
            const double r = std::hypot(c, s), r2 = std::hypot(c2, s2);
            c /= r, s /= r, c2 /= r2, s2 /= r2;
        }
    }
    return makeLoadedSnapshot(planes, frames, 2, 48000.0);
}

struct Instrument {
    ManualClock clock;
    ScopedLayerClock layerClock{clock};
    RunLoop loop{clock};
    MainView view{loop};
    std::uint32_t frames;

    explicit Instrument(std::uint32_t sampleFrames) : frames(sampleFrames) {
        view.layer()->setBounds(Rect::make(0, 0, kStripWidth, kStripHeight));
        view.mixer().sample().publish(stereoSample(sampleFrames));
    }
};

void playAllVoices(Instrument& in) {
    MainView& view = in.view;
    const double h = kStripHeight;
    for (std::size_t i = 0; i < kVoiceCount; ++i) {
        Playhead& p = view.playheads()[i];
        const int mode = static_cast<int>(i % 4);
        const double x = 10.0 + 16.5 * i;
        p.setMode(mode);
        p.setPos(x / kStripWidth * in.frames);
        p.setBowPos((x - 3.0) / kStripWidth * in.frames);
        p.setEnvelope(0.4 + 0.009 * i);
        p.setTouchid(1000 + i);
        auto& layers = view.voiceLayers(i);
        if (mode == Playhead::kLooper || mode == Playhead::kBow) {
            layers.regionLayer->setBounds(Rect::make(0, 0, 40.0, h + 4.0));
            layers.regionLayer->setPosition({x - 20.0, -2.0});
        } else if (mode == Playhead::kTape) {
            layers.speedLayer->setBounds(Rect::make(0, 0, kStripWidth * 0.5 - x * 0.5, 1.5));
            layers.speedLayer->setPosition({x * 0.5, h - 2.0 - 5.0 * ((i / 4) % 6)});
        }
        p.setActive(true);
    }
}

enum class Draw { None, Whole, AsShown };

void frame(benchmark::State& state, Draw draw) {
    Instrument in(48000 * 60);
    in.view.setNumSlices(16);
    in.view.update();  // measures the strip, draws the waveform and the markers
    playAllVoices(in);

    std::vector<float> left(2 * kOscilloscopeFrames), right(2 * kOscilloscopeFrames);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(0.5 * std::sin(i * 0.031) * std::sin(i * 0.0021));
        right[i] = static_cast<float>(0.4 * std::sin(i * 0.029 + 1.0));
    }
    Renderer renderer;
    std::size_t n = 0;
    for (auto _ : state) {
        // What arrives between two frames: a capture of the mix, moved heads, a played slice.
        const std::size_t offset = (n * 37) % kOscilloscopeFrames;
        in.view.audioGraph().oscilloscope().write(left.data() + offset, right.data() + offset,
                                                  kOscilloscopeFrames);
        for (std::size_t i = 0; i < kVoiceCount; ++i) {
            Playhead& p = in.view.playheads()[i];
            p.setPos(p.pos() + 800.0);
        }
        if (n % 8 == 0) in.view.slices()[(n / 8) % 16].highlightOpacity = 1.0f;

        in.view.update();
        if (draw == Draw::Whole) {
            benchmark::DoNotOptimize(renderer.render(*in.view.layer(), kZoom, in.clock.now()));
        } else if (draw == Draw::AsShown) {
            benchmark::DoNotOptimize(
                renderer.renderIfChanged(*in.view.layer(), kZoom, in.clock.now()));
        }
        in.clock.advance(1.0 / 60.0);
        ++n;
    }
    state.counters["ms_per_frame"] = benchmark::Counter(
        1e-3, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void displayFrame(benchmark::State& state) { frame(state, Draw::Whole); }
void displayFrameAsShown(benchmark::State& state) { frame(state, Draw::AsShown); }
void displayUpdate(benchmark::State& state) { frame(state, Draw::None); }

void waveform10min(benchmark::State& state) {
    Instrument in(48000 * 600);
    in.view.update();  // measures the strip (and draws once)
    for (auto _ : state) {
        in.view.renderWaveform();
        benchmark::DoNotOptimize(in.view.waveform()->sublayers().size());
    }
    state.counters["bars"] = static_cast<double>(in.view.waveform()->sublayers().size());
}

}  // namespace

BENCHMARK(displayFrame)->Name("Display/frame")->Unit(benchmark::kMillisecond);
BENCHMARK(displayFrameAsShown)->Name("Display/frameAsShown")->Unit(benchmark::kMillisecond);
BENCHMARK(displayUpdate)->Name("Display/update")->Unit(benchmark::kMicrosecond);
BENCHMARK(waveform10min)->Name("Display/waveform10min")->Unit(benchmark::kMillisecond);
