// vornik: the instrument. Until the window arrives, this renders a short performance through the
// mixer offline and reports its level, so the build can be tried end to end.

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/Log.h"
#include "display/MainView.h"

using namespace vornik;

int main() {
    ManualClock clock;
    RunLoop loop(clock);
    MainView view(loop);

    // A one-second 220 Hz tone as the sample, played by one held slicer voice.
    const std::uint32_t frames = 48000;
    std::shared_ptr<float[]> planes(new float[frames]);
    for (std::uint32_t i = 0; i < frames; ++i) {
        planes[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 220.0 * i / 48000.0));
    }
    view.mixer().sample().publish(makeLoadedSnapshot(planes, frames, 1, 48000.0));

    Playhead& v = view.playheads()[0];
    v.setMode(Playhead::kSlicer);
    v.setTouchid(1);
    v.setAmp(0.9f);
    v.setRate(1.0);
    v.setFrameStart(0.0);
    v.setFrameEnd(frames);
    v.setActive(true);

    std::vector<float> left(kRequestedBlockFrames), right(kRequestedBlockFrames);
    float peak = 0.0f;
    int blocks = 0;
    for (; blocks < 48000 / kRequestedBlockFrames; ++blocks) {
        view.renderAudio(left.data(), right.data(), kRequestedBlockFrames);
        for (float x : left) peak = std::max(peak, std::fabs(x));
    }
    logf("the window arrives with the application; rendered %d blocks offline, peak %.3f",
         blocks, peak);
    return 0;
}
