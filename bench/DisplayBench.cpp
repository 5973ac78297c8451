// The strip's drawing cost: a 1085 x 30 point layer tree rendered at zoom 2 (2170 x 60 pixels)
// with about 300 translucent rectangles and a 1024-point stroked trace rebuilt every frame, as the
// instrument view will draw it. Counter ms_per_frame: the whole frame budget is 4 ms.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "display/Renderer.h"
#include "display/Transaction.h"

using namespace vornik;

namespace {

constexpr double kStripWidth = 1085.0;
constexpr double kStripHeight = 30.0;
constexpr double kZoom = 2.0;
constexpr int kRectangles = 300;
constexpr int kTracePoints = 1024;

void layers(benchmark::State& state) {
    ManualClock clock;
    ScopedLayerClock useClock(clock);
    auto root = Layer::create();
    root->setBounds(Rect::make(0, 0, kStripWidth, kStripHeight));
    root->setBackgroundColor(Color::black());

    std::vector<LayerPtr> rects;
    for (int i = 0; i < kRectangles; ++i) {
        auto bar = Layer::create();
        bar->setAnchorPoint({0, 0.5});
        bar->setBounds(Rect::make(0, 0, 2, 2 + (i * 7) % 28));
        bar->setPosition({3.6 * i + 2, kStripHeight * 0.5});
        bar->setBackgroundColor(Color::rgba(0.2, 0.6, 1.0, 0.5 + 0.4 * (i % 5) / 4.0));
        root->addSublayer(bar);
        rects.push_back(bar);
    }
    auto trace = ShapeLayer::create();
    trace->setFrame(root->bounds());
    trace->setFillColor(Color::clear());
    trace->setStrokeColor(Color::white(1.0, 0.5));
    trace->setLineWidth(1.5);
    root->addSublayer(trace);

    Renderer renderer;
    int frame = 0;
    for (auto _ : state) {
        {
            TransactionScope quiet(true);
            for (int i = 0; i < kRectangles; ++i) {
                rects[i]->setOpacity(static_cast<float>(0.5 + 0.5 * ((i + frame) % 2)));
            }
            Path& path = trace->editPath();
            path.clear();
            const double dx = kStripWidth / kTracePoints;
            for (int i = 0; i < kTracePoints; ++i) {
                const double y = 15.0 + 11.0 * std::sin(0.05 * (i + frame)) * std::sin(0.0031 * i);
                if (i == 0) {
                    path.moveTo(0.0, y);
                } else {
                    path.lineTo(i * dx, y);
                }
            }
        }
        benchmark::DoNotOptimize(renderer.render(*root, kZoom, clock.now()).width());
        ++frame;
    }
    state.counters["ms_per_frame"] = benchmark::Counter(
        1e-3, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(layers)->Name("Display/layers")->Unit(benchmark::kMillisecond);
