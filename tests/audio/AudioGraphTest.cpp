#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include "AudioTestSupport.h"
#include "audio/AudioDevice.h"
#include "support/LogLines.h"
#include "support/SampleFixtures.h"

using namespace vornik;
using namespace vornik::test;

namespace {

constexpr auto npos = std::string::npos;

// A held tape voice over a noisy sample, so the mixer's output is never trivial.
void playNoise(MainView& m) {
    Stereo noise{std::vector<float>(48000), std::vector<float>(48000)};
    NoiseSource{0.5f}.renderAudio(noise.left.data(), noise.right.data(), 48000);
    m.mixer().sample().publish(snapshotOf(noise.left, noise.right, 44100.0));
    holdTape(m, 0, m.getCurrentFilePlaybackRate(), 100.0);
}

struct CountingSource {
    std::atomic<long> frames{0};
    void renderAudio(float* l, float* r, int n) {
        std::fill_n(l, n, 0.0f);
        std::fill_n(r, n, 0.0f);
        frames += n;
    }
    bool waitFor(long more) {  // at most 5 s
        const long target = frames + more;
        for (int i = 0; i < 1000 && frames < target; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return frames >= target;
    }
};

}  // namespace

TEST(AudioDevice, TheDummyDriverPullsTheGraphAndReopens) {
    ScopedDriver driver("dummy");
    LogLines log;
    AudioGraph g;
    CountingSource source;
    g.setSource(source);
    g.prepare();
    {
        AudioDevice device(g);
        ASSERT_TRUE(device.open());
        EXPECT_TRUE(device.open());  // already open: nothing more
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_NE(log.lines[0].find("dummy driver, 48000 Hz, " +
                                    std::to_string(device.bufferFrames()) + " frames per buffer"),
                  npos)
            << log.lines[0];
        EXPECT_TRUE(source.waitFor(4800));
        ASSERT_TRUE(device.reopen());  // a route change: the same graph again
        EXPECT_EQ(log.lines.size(), 2u);
        EXPECT_TRUE(source.waitFor(4800));
        device.close();
        EXPECT_FALSE(device.isOpen());
    }
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);  // the device let SDL's audio go
}

TEST(AudioDevice, WithoutADeviceTheInstrumentPlaysOnSilently) {
    LogLines log;
    StatusLines status;
    ScopedDriver driver("no-such-driver");
    View v(MainView::AudioOutput::kDevice);
    EXPECT_FALSE(v.view.audioDeviceOpen());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("no audio output"), npos) << log.lines[0];
    EXPECT_NE(log.lines[0].find("playing on without sound"), npos);
    EXPECT_EQ(status.lines, std::vector<std::string>{"No sound device: playing silently"});
    v.view.filterSet(0.5f);
    std::vector<float> l(256), r(256);
    v.view.renderOutput(l.data(), r.data(), 256);
    v.view.audioHardwareRouteChanged();  // tries again
    EXPECT_FALSE(v.view.audioDeviceOpen());
    EXPECT_EQ(log.lines.size(), 2u);
}

TEST(AudioDevice, TheCallbackFillsAnySizeLikeOneRender) {
    // Two graphs with every effect on, one rendered whole, one through the device's callback
    // in ragged calls: every unit must keep its state across blocks.
    AudioGraph a, b;
    NoiseSource na, nb;
    prepare(a, na, true);
    prepare(b, nb, true);
    AudioDevice device(b);  // not opened: the callback's work alone
    constexpr int kTotal = 30000;
    std::vector<float> interleaved(2 * kTotal);
    int done = 0;
    for (int n : {1, 63, 64, 65, 1000, 7, 4096, 333}) {
        device.fill(interleaved.data() + 2 * done, n);
        done += n;
    }
    device.fill(interleaved.data() + 2 * done, kTotal - done);
    const Stereo whole = renderGraph(a, kTotal);
    for (int i = 0; i < kTotal; ++i) {
        ASSERT_EQ(interleaved[2 * i], whole.left[i]) << i;
        ASSERT_EQ(interleaved[2 * i + 1], whole.right[i]) << i;
    }
}

TEST(AudioGraph, StartSettingsPassTheMixerThroughAndTheOscilloscopeSeesTheFinalMix) {
    View withGraph, mixerOnly;
    playNoise(withGraph.view);
    playNoise(mixerOnly.view);
    std::vector<float> l1(4096), r1(4096), l2(4096), r2(4096);
    auto renderBoth = [&] {
        withGraph.view.renderOutput(l1.data(), r1.data(), 4096);
        for (int done = 0; done < 4096; done += 64) {
            mixerOnly.view.renderAudio(l2.data() + done, r2.data() + done, 64);
        }
    };
    for (int call = 0; call < 10; ++call) {
        renderBoth();
        ASSERT_EQ(l1, l2) << call;
        ASSERT_EQ(r1, r2) << call;
    }
    EXPECT_GT(rms(l1), 0.05);

    // Moved, the controls change the sound, and the capture is of the newest complete 1024
    // frames after every effect, copied into the view's own storage.
    MainView& m = withGraph.view;
    m.filterSet(0.3f);
    m.delayTimeSet(0.1f);
    m.delayFeedbackSet(0.4f);
    m.reverbSet(0.6f);
    m.setOscNewData(false);
    renderBoth();
    EXPECT_NE(l1, l2);
    ASSERT_TRUE(m.takeOscilloscopeCapture());
    EXPECT_TRUE(m.oscNewData());
    ASSERT_EQ(m.oscLength(), 1024);
    EXPECT_EQ(std::vector<float>(m.oscL(), m.oscL() + 1024),
              std::vector(l1.end() - 1024, l1.end()));
    EXPECT_EQ(std::vector<float>(m.oscR(), m.oscR() + 1024),
              std::vector(r1.end() - 1024, r1.end()));
    const float* storage = m.oscL();
    EXPECT_FALSE(m.takeOscilloscopeCapture());  // nothing new yet

    // Back at their start positions (filter 1, delay feedback 0, reverb 0), once the fades are
    // over, the mixer's output is exact again.
    m.filterSet(1.0f);
    m.delayFeedbackSet(0.0f);
    m.reverbSet(0.0f);
    renderBoth();
    renderBoth();
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(r1, r2);
    ASSERT_TRUE(m.takeOscilloscopeCapture());
    EXPECT_EQ(m.oscL(), storage);
}

TEST(AudioGraph, WithoutSourceOrPreparationItRendersSilence) {
    AudioGraph g;
    const std::vector<float> silence(100, 0.0f);
    std::vector<float> l(100, 1.0f), r(100, 1.0f);
    g.render(l.data(), r.data(), 100);  // not prepared
    EXPECT_EQ(l, silence);
    g.prepare();
    std::fill(r.begin(), r.end(), 1.0f);
    g.render(l.data(), r.data(), 100);  // no source
    EXPECT_EQ(r, silence);
    g.render(l.data(), r.data(), 0);
    g.render(l.data(), r.data(), -5);

    View v;  // before a sample is loaded; no capture before 1024 frames
    std::fill(l.begin(), l.end(), 1.0f);
    for (int i = 0; i < 10; ++i) v.view.renderOutput(l.data(), r.data(), 100);
    EXPECT_EQ(l, silence);
    EXPECT_FALSE(v.view.takeOscilloscopeCapture());
    EXPECT_EQ(v.view.oscL(), nullptr);
}

TEST(EffectMapping, FilterDelayReverbAndPlaybackRate) {
    View v;
    MainView& m = v.view;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // In order: bypassing a filter keeps its frequency. Tolerance in Hz.
    const struct {
        float control;
        bool lowBypassed, highBypassed;
        float low, high, tolerance;
    } steps[] = {
        {0.0f, false, true, 100.0f, 0.0f, 0.0f},
        {0.5f, false, true, 2850.0f, 0.0f, 0.0f},
        {0.9f, false, true, 16138.0f, 0.0f, 0.01f},
        {1.0f, true, true, 16138.0f, 0.0f, 0.01f},
        {0.999f, false, true, 22034.0f, 0.0f, 0.1f},
        {1.001f, true, false, 22034.0f, 0.011f, 0.1f},
        {0.5f, false, true, 2850.0f, 0.011f, 0.0001f},
        {1.5f, true, false, 2850.0f, 2750.0f, 0.0f},
        {2.0f, true, false, 2850.0f, 11000.0f, 0.0f},
        {nan, true, false, 2850.0f, 11000.0f, 0.0f},  // not a number changes nothing
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.control);
        m.filterSet(s.control);
        EXPECT_EQ(m.lowpassBypass(), s.lowBypassed);
        EXPECT_EQ(m.highpassBypass(), s.highBypassed);
        EXPECT_NEAR(m.lowpassFrequency(), s.low, s.tolerance);
        EXPECT_NEAR(m.highpassFrequency(), s.high, 0.0001f);
    }
    for (auto [control, seconds] : {std::pair{0.0f, 0.05}, {0.5f, 1.05}, {1.0f, 2.05}}) {
        m.delayTimeSet(control);
        EXPECT_DOUBLE_EQ(m.delayTime(), seconds);
    }
    // 2.05 s is held as it is, not clamped: 98,400 frames.
    EXPECT_EQ(m.audioGraph().delay().delayFramesFor(m.delayTime()), 98400);

    // One control sets feedback and mix together; 0 silences the delay.
    m.delayFeedbackSet(0.125f);
    EXPECT_EQ(m.delayFeedback(), 12.5f);
    EXPECT_EQ(m.delayWetDryMix(), 12.5f);
    m.delayFeedbackSet(0.0f);
    EXPECT_EQ(m.delayFeedback() + m.delayWetDryMix(), 0.0f);
    m.reverbSet(0.25f);
    EXPECT_EQ(m.reverbWetDryMix(), 25.0f);

    EXPECT_EQ(m.getCurrentFilePlaybackRate(), 0.0);  // no file
    m.mixer().sample().publish(snapshotOf(ramp(100), {}, 44100.0));
    for (auto [transpose, rate] : {std::pair{0, 0.91875}, {12, 1.8375}, {-12, 0.459375}}) {
        m.setTranspose(transpose);
        EXPECT_DOUBLE_EQ(m.getCurrentFilePlaybackRate(), rate) << transpose;
    }
    m.mixer().sample().publish(snapshotOf(ramp(100), {}, 48000.0));
    m.setTranspose(7);
    EXPECT_NEAR(m.getCurrentFilePlaybackRate(), 1.4983, 1e-4);

    auto failed = snapshotOf(ramp(100), {}, 48000.0);
    failed->loaded = false;  // a failed open keeps the old planes but no file
    m.mixer().sample().publish(std::move(failed));
    EXPECT_EQ(m.getCurrentFilePlaybackRate(), 0.0);
}
