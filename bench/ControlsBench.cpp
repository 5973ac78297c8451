// The controls' costs on the main thread: an icon is redrawn on every movement of its slider
// (a 60 x 60 pixel picture), and a control bar is drawn across the strip (1085 x 30 points at
// zoom 2) every frame it is shown. Counter ms: milliseconds per icon or per frame.

#include <benchmark/benchmark.h>

#include "app/Icons.h"
#include "app/WindowController.h"
#include "display/Renderer.h"

using namespace vornik;

namespace {

constexpr Size kStrip{1085.0, 30.0};
constexpr double kZoom = 2.0;

void perCall(benchmark::State& state) {
    state.counters["ms"] = benchmark::Counter(
        1e-3, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One slider step: the delay icon (six lines) redrawn, as a drag on the delay slider does.
void delayIconPerMove(benchmark::State& state) {
    double t = 0.0;
    for (auto _ : state) {
        auto image = delayIcon(t, 0.5);
        benchmark::DoNotOptimize(image);
        t = t > 1.0 ? 0.0 : t + 0.01;
    }
    perCall(state);
}
BENCHMARK(delayIconPerMove);

void filterIconPerMove(benchmark::State& state) {
    double f = 0.0;
    for (auto _ : state) {
        auto image = filterIcon(f);
        benchmark::DoNotOptimize(image);
        f = f > 2.0 ? 0.0 : f + 0.013;
    }
    perCall(state);
}
BENCHMARK(filterIconPerMove);

// A bar drawn once per frame; `bar` is 1 (controls) or 2 (effects).
void controlBarFrame(benchmark::State& state) {
    ManualClock clock;
    RunLoop loop(clock);
    WindowController controller(loop, {});
    controller.makeTouchBar();
    controller.showBar(static_cast<int>(state.range(0)));
    Renderer renderer;
    for (auto _ : state) {
        const Image& image = renderer.render(*controller.stripLayer(kStrip), kZoom, 0.0);
        benchmark::DoNotOptimize(&image);
    }
    perCall(state);
}
BENCHMARK(controlBarFrame)->Arg(1)->Arg(2);

}  // namespace
