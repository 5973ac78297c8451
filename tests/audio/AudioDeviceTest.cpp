// The sound device through SDL's dummy driver (set by CTest), an impossible driver, and the
// callback's work on buffers of any size.

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "AudioTestSupport.h"
#include "audio/AudioDevice.h"
#include "display/MainView.h"
#include "support/LogLines.h"
#include "support/RealtimeGuard.h"

using namespace vornik;
using namespace vornik::test;

namespace {

// Sets SDL_AUDIODRIVER for one test and puts the old value back.
class AudioDriver {
public:
    explicit AudioDriver(const char* name) {
        if (const char* old = std::getenv("SDL_AUDIODRIVER")) old_ = old;
        setenv("SDL_AUDIODRIVER", name, 1);
    }
    ~AudioDriver() {
        if (old_.empty()) {
            unsetenv("SDL_AUDIODRIVER");
        } else {
            setenv("SDL_AUDIODRIVER", old_.c_str(), 1);
        }
    }

private:
    std::string old_;
};

struct CountingSource {
    std::atomic<long> frames{0};
    void renderAudio(float* l, float* r, int n) {
        std::fill_n(l, n, 0.0f);
        std::fill_n(r, n, 0.0f);
        frames.fetch_add(n, std::memory_order_relaxed);
    }
};

bool waitForFrames(const CountingSource& s, long frames) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (s.frames.load() < frames) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int countContaining(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const auto& l : lines) n += l.find(text) != std::string::npos;
    return n;
}

}  // namespace

TEST(AudioDevice, TheDummyDriverOpensAndPullsTheGraph) {
    AudioDriver driver("dummy");
    LogLines log;
    AudioGraph g;
    CountingSource source;
    g.setSource(source);
    g.prepare();
    {
        AudioDevice device(g);
        ASSERT_TRUE(device.open());
        EXPECT_TRUE(device.isOpen());
        EXPECT_GT(device.bufferFrames(), 0);
        EXPECT_TRUE(device.open());  // already open: nothing more
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_NE(log.lines[0].find("dummy driver, 48000 Hz, " +
                                    std::to_string(device.bufferFrames()) + " frames per buffer"),
                  std::string::npos)
            << log.lines[0];
        EXPECT_TRUE(waitForFrames(source, 4800));

        // A route change: closed and opened again on the same graph.
        ASSERT_TRUE(device.reopen());
        EXPECT_EQ(countContaining(log.lines, "frames per buffer"), 2);
        const long before = source.frames.load();
        EXPECT_TRUE(waitForFrames(source, before + 4800));
        device.close();
        EXPECT_FALSE(device.isOpen());
        EXPECT_EQ(device.bufferFrames(), 0);
    }
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);  // the device let SDL's audio go
}

TEST(AudioDevice, AnImpossibleDriverIsLoggedAndTheInstrumentRunsOn) {
    AudioDriver driver("no-such-driver");
    LogLines log;
    ManualClock clock;
    RunLoop loop(clock);
    MainView m(loop);
    m.initAudioEngine(MainView::AudioOutput::kDevice);
    EXPECT_FALSE(m.audioDeviceOpen());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("no audio output"), std::string::npos) << log.lines[0];
    EXPECT_NE(log.lines[0].find("playing on without sound"), std::string::npos);

    // The instrument works on without a device, and a route change tries again.
    m.filterSet(0.5f);
    std::vector<float> l(256), r(256);
    m.renderOutput(l.data(), r.data(), 256);
    m.audioHardwareRouteChanged();
    EXPECT_FALSE(m.audioDeviceOpen());
    EXPECT_EQ(log.lines.size(), 2u);
}

TEST(AudioDevice, RouteChangeWithoutADeviceDoesNothing) {
    LogLines log;
    ManualClock clock;
    RunLoop loop(clock);
    MainView m(loop);
    m.initAudioEngine(MainView::AudioOutput::kNone);
    m.audioHardwareRouteChanged();
    EXPECT_FALSE(m.audioDeviceOpen());
    EXPECT_TRUE(log.lines.empty());
}

TEST(AudioDevice, TheCallbackFillsAnySizeInterleavedWithoutAllocating) {
    AudioGraph a, b;
    NoiseSource na, nb;
    a.setSource(na);
    b.setSource(nb);
    setAllOn(a);
    setAllOn(b);
    a.prepare();
    b.prepare();
    AudioDevice device(a);  // not opened: the callback's work alone

    std::vector<float> interleaved(2 * 4000);
    RealtimeCounts counts;
    {
        RealtimeScope scope;
        int done = 0;
        for (int n : {1000, 63, 1, 64, 2872}) {
            device.fill(interleaved.data() + 2 * done, n);
            done += n;
        }
        counts = scope.counts();
    }
    EXPECT_EQ(counts.allocations, 0u);
    if (countsMalloc()) {
        EXPECT_EQ(counts.locks, 0u);
    }

    const Stereo planar = renderGraph(b, 4000);
    for (int i = 0; i < 4000; ++i) {
        ASSERT_EQ(interleaved[2 * i], planar.left[i]) << i;
        ASSERT_EQ(interleaved[2 * i + 1], planar.right[i]) << i;
    }
}
