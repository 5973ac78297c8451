// The waveform: one bar every 3 points across the strip, spanning its stretch's lowest to highest
// value (scaled so the loudest moment of the sample fills the height), coloured by how often the
// signal crosses zero there.

#include <algorithm>
#include <cmath>
#include <vector>

#include "display/DisplayConstants.h"
#include "display/MainView.h"
#include "display/WaveformScan.h"

namespace vornik {
namespace {

const WaveformColours& waveformColours(int playMode) {
    switch (playMode) {
        case Playhead::kLooper:
            return kLooperWaveform;
        case Playhead::kBow:
            return kBowWaveform;
        case Playhead::kTape:
            return kTapeWaveform;
        default:
            return kSlicerWaveform;
    }
}

}  // namespace

void MainView::renderWaveform() {
    const SampleSnapshot& s = sample();
    const double width = touchBarSize_.x;
    if (width == 0.0 || !s.loaded || s.fileLength == 0) return;  // keep what is drawn

    // Columns and the frames each covers. When F rounds up the last columns reach past the
    // sample's end: what lies beyond it is not read, those columns are drawn as silence; so are
    // frames a short read left silent.
    const double columns = std::round(width / kWaveformColumnPitch);
    const int W = columns >= 1.0 ? static_cast<int>(columns) : 0;
    const std::size_t F =
        W < 1 ? 0
              : static_cast<std::size_t>(std::round(static_cast<float>(s.fileBufferLength) /
                                                    static_cast<float>(columns)));
    const std::size_t frames = std::min({s.fileBufferLength, s.capacity, s.filledFrames});
    const float* first = s.left;
    const float* second = s.channels == 2 ? s.right : nullptr;  // other counts: first only

    // The two passes of the drawing (the peak and the most crossings, then each bar) need the
    // same per-column figures, so one scan serves both.
    std::vector<ColumnScan> scans(static_cast<std::size_t>(W));
    float peak = 0.0f;
    std::uint32_t most = 0;
    for (int c = 0; c < W && first; ++c) {
        const std::size_t begin = std::min(static_cast<std::size_t>(c) * F, frames);
        const std::size_t end = std::min(begin + F, frames);
        const ColumnScan col = scanWaveformColumn(first, second, begin, end);
        scans[static_cast<std::size_t>(c)] = col;
        peak = std::max({peak, col.hi, -col.lo});
        most = std::max(most, col.crossings);
    }

    const WaveformColours& pair = waveformColours(playMode_);
    waveform_->removeAllSublayers();
    if (W < 1) return;

    const float N = most == 0 ? 1.0f : static_cast<float>(most);
    const float scale = 1.0f / peak;
    const double H = layer_->bounds().size.height;
    // The pair's Lab values are the same for every bar: the blend below equals
    // interpolateLabColor(pair.few, pair.most, t) without converting them again.
    const Lab few = rgb2lab(pair.few);
    const Lab many = rgb2lab(pair.most);

    std::vector<LayerPtr> bars;
    bars.reserve(static_cast<std::size_t>(W));
    for (int c = 0; c < W; ++c) {
        const ColumnScan& col = scans[static_cast<std::size_t>(c)];
        float hi = col.hi, lo = col.lo;
        if (peak != 0.0f) {
            hi *= scale;
            lo *= scale;
        }
        const float ratio = static_cast<float>(col.crossings) / N;
        const double t = static_cast<float>(std::pow(ratio, kWaveformColourExponent));

        auto bar = Layer::create();
        bar->setAnchorPoint({0.0, 0.5});
        bar->setBounds(
            Rect::make(0.0, 0.0, kWaveformBarWidth, H * 0.5 * (hi - lo) + kWaveformMinBarHeight));
        bar->setPosition(
            {kWaveformColumnPitch * c + kWaveformFirstBarX, H * 0.5 + H * 0.5 * ((hi + lo) * 0.5)});
        bar->setBackgroundColor(
            lab2rgb(Lab{few.l + (many.l - few.l) * t, few.a + (many.a - few.a) * t,
                        few.b + (many.b - few.b) * t}));
        bars.push_back(std::move(bar));
    }
    waveform_->setSublayers(std::move(bars));
}

}  // namespace vornik
