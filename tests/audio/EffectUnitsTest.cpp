// The effect units measured on rendered audio. Tolerances are stated beside each number.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "AudioTestSupport.h"
#include "audio/Denormals.h"

using namespace vornik;
using namespace vornik::test;

namespace {

// The gain in dB at `hz` with one filter on: 0.2 s to settle, 0.5 s measured.
double gainAt(FilterType type, float cutoff, double hz) {
    AudioGraph g;
    setEffects(g);
    EqUnit& eq = type == FilterType::kLowPass ? g.lowpass() : g.highpass();
    eq.setFrequency(cutoff);
    eq.setBypass(false);
    SineSource sine{hz, 0.5f};
    g.setSource(sine);
    g.prepare();
    const Stereo out = renderGraph(g, 48000 * 7 / 10);
    return 20.0 * std::log10(rms(out.left, 9600) / (0.5 / std::sqrt(2.0)));
}

// A graph with every effect inaudible but the delay.
void delayOnly(AudioGraph& g, double seconds, float feedback) {
    setEffects(g);
    g.delay().setDelayTime(seconds);
    g.delay().setFeedback(feedback);
    g.delay().setWetDryMix(100.0f);
}

// The largest step between consecutive frames of the left channel, across calls.
struct StepMeter {
    double largest = 0.0, peak = 0.0;
    float previous = 0.0f;
    void add(const Stereo& s) {
        ASSERT_TRUE(allFinite(s));
        for (float x : s.left) {
            peak = std::max(peak, double{std::fabs(x)});
            largest = std::max(largest, double{std::fabs(x - previous)});
            previous = x;
        }
    }
};

}  // namespace

TEST(EffectUnits, ButterworthResponseAndClampedFrequencies) {
    const auto lp = FilterType::kLowPass, hp = FilterType::kHighPass;
    // -3.01 dB at the cutoff, -12.9 an octave above (after the bilinear warp); the high-pass
    // mirrored; outside the biquad's range clamped, passing everything.
    for (auto [type, cutoff, hz, db, tolerance] : {std::tuple{lp, 2850.0f, 2850.0, -3.01, 0.1},
                                                   {lp, 2850.0f, 5700.0, -12.9, 0.5},
                                                   {hp, 2750.0f, 1375.0, -12.4, 0.5},
                                                   {hp, 0.0f, 1000.0, 0.0, 0.05},
                                                   {lp, 1.0e6f, 1000.0, 0.0, 0.05}}) {
        EXPECT_NEAR(gainAt(type, cutoff, hz), db, tolerance) << cutoff << " Hz at " << hz;
    }
    // Whatever arrives while running, the output stays finite.
    AudioGraph g;
    NoiseSource noise;
    prepare(g, noise);
    EqUnit& eq = g.lowpass();
    eq.setBypass(false);
    for (float hz : {0.0f, -50.0f, 1.0e9f, std::numeric_limits<float>::quiet_NaN(),
                     std::numeric_limits<float>::infinity(), 24000.0f, 0.011f}) {
        eq.setFrequency(hz);
        eq.setFilterType(eq.filterType() == lp ? hp : lp);
        EXPECT_TRUE(allFinite(renderGraph(g, 4800))) << hz;
    }
}

TEST(EffectUnits, DelayEchoesAtTheSetTimeWithTheFeedbackAndLowPassPerRepeat) {
    struct ImpulseSource {
        bool done = false;
        void renderAudio(float* l, float* r, int n) {
            std::fill_n(l, n, 0.0f);
            std::fill_n(r, n, 0.0f);
            if (n > 0 && !done) l[0] = r[0] = 1.0f;
            done = done || n > 0;
        }
    };
    for (double seconds : {0.05, 2.05}) {
        AudioGraph g;
        ImpulseSource impulse;
        g.setSource(impulse);
        delayOnly(g, seconds, 50.0f);
        g.prepare();
        const int t = static_cast<int>(std::lround(seconds * 48000.0));
        const Stereo out = renderGraph(g, 3 * t + 200);
        // Each echo peaks at its time; its sum falls by exactly the feedback (low-pass at 0 Hz).
        EXPECT_EQ(rms(out.left, 0, t), 0.0) << seconds;
        for (int k = 1; k <= 3; ++k) {
            const auto from = out.left.begin() + (k * t - 20);
            EXPECT_EQ(std::max_element(from, from + 100) - out.left.begin(), k * t) << seconds;
            double sum = 0.0;
            for (auto it = from; it != from + 150; ++it) sum += *it;
            EXPECT_NEAR(sum, std::pow(0.5, k - 1), 1e-4) << seconds << " echo " << k;
        }
    }
    // Feedback 100 % with sound coming: the loop gain is held under one.
    AudioGraph g;
    NoiseSource noise{0.25f};
    g.setSource(noise);
    delayOnly(g, 0.05, 100.0f);
    g.prepare();
    const Stereo out = renderGraph(g, 48000 * 20);
    EXPECT_TRUE(allFinite(out));
    EXPECT_LT(rms(out.left, 48000 * 19), 1.5 * rms(out.left, 48000 * 4, 48000 * 5));
    // A 40 ms tone echoed every 0.1 s at 50 %: each repeat loses 0.5 and the echo path's one-pole
    // low-pass (|H| = (1 - a) / |1 - a e^-jw|, a = e^(-2 pi fc / 48000)) at the tone.
    for (auto [cutoff, hz, gain] :
         {std::tuple{22000.0f, 12000.0, 0.9424}, std::tuple{3000.0f, 6000.0, 0.4588}}) {
        AudioGraph echoes;
        SineSource tone{hz, 0.5f};
        echoes.setSource(
            [](void* t, float* l, float* r, int n) {
                auto* s = static_cast<SineSource*>(t);
                s->renderAudio(l, r, n);
                for (int i = 0; i < n; ++i) {
                    if (s->frame - n + i >= 1920) l[i] = r[i] = 0.0f;
                }
            },
            &tone);
        delayOnly(echoes, 0.1, 50.0f);
        echoes.delay().setLowPassCutoff(cutoff);
        echoes.prepare();
        const Stereo heard = renderGraph(echoes, 4800 * 4);
        double echo[4];
        for (int k = 1; k <= 3; ++k) echo[k] = rms(heard.left, 4800 * k + 200, 4800 * k + 1700);
        EXPECT_NEAR(echo[1] / (0.5 / std::sqrt(2.0)), gain, 0.01) << hz;  // the first repeat
        EXPECT_NEAR(echo[3] / echo[2], 0.5 * gain, 0.005) << hz;
    }
}

TEST(EffectUnits, DelayTimeChangesDoNotClickAndStayInsideTheLine) {
    // A 437 Hz sine moves at most 0.057 x its peak per frame; a jump in reading, up to twice it.
    AudioGraph g;
    SineSource sine{437.0, 0.25f};
    g.setSource(sine);
    delayOnly(g, 0.45, 50.0f);
    g.prepare();
    renderGraph(g, 48000 * 3);  // the whole line rings
    StepMeter meter;
    meter.previous = renderGraph(g, 1).left[0];
    DelayUnit& d = g.delay();
    for (double seconds : {2.05, 0.05, 0.0, 10.0, 0.3}) {
        d.setDelayTime(seconds);
        meter.add(renderGraph(g, 4800));
    }
    EXPECT_GT(meter.peak, 0.1);
    EXPECT_LT(meter.largest, 0.1 * meter.peak);
    // Beyond the line: the longest it holds; 0 s: one frame; not a time: the last one kept.
    for (auto [seconds, frames] : {std::pair{10.0, int(DelayUnit::kLongestTime * 48000)},
                                   {0.0, 1},
                                   {0.25, 12000},
                                   {std::numeric_limits<double>::quiet_NaN(), 12000}}) {
        d.setDelayTime(seconds);
        renderGraph(g, 9600);
        EXPECT_EQ(d.runningDelayFrames(), frames) << seconds;
    }
}

TEST(EffectUnits, ReverbTailDecaysOverSecondsAndSteadyNoiseKeepsItsLevel) {
    AudioGraph g;
    NoiseSource noise{0.5f};
    g.setSource(noise);
    setEffects(g);
    g.reverb().setWetDryMix(100.0f);
    g.prepare();
    renderGraph(g, 4800);  // a 0.1 s burst
    noise.amplitude = 0.0f;
    const Stereo tail = renderGraph(g, 48000 * 8);
    EXPECT_TRUE(allFinite(tail));
    // The cathedral: -60 dB in 3 to 9 s (the slope from 0.5-1 s to 3-3.5 s); right as left.
    const double early = rms(tail.left, 24000, 48000);
    const double seconds60 =
        60.0 / (20.0 * std::log10(early / rms(tail.left, 144000, 168000)) / 2.5);
    EXPECT_GT(seconds60, 3.0);
    EXPECT_LT(seconds60, 9.0);
    EXPECT_NEAR(rms(tail.right, 24000, 48000) / early, 1.0, 0.25);
    // With denormals flushed the tail ends in exact zeros (about 70 s on), not subnormals.
    const Stereo end = renderGraph(g, 48000 * 75);
    EXPECT_EQ(end.left.back(), 0.0f);
    EXPECT_EQ(end.right.back(), 0.0f);
    EXPECT_FALSE(g.reverb().loadFactoryPreset(ReverbUnit::kPresetCount));  // no such preset
    EXPECT_FALSE(g.reverb().loadFactoryPreset(-1));
    // Steady noise keeps its level fully wet; at mix 50 the uncorrelated halves add to 0.707.
    for (auto [mix, ratio] : {std::pair{100.0f, 1.0}, std::pair{50.0f, 0.707}}) {
        AudioGraph wet;
        NoiseSource steady{0.5f};
        prepare(wet, steady);
        wet.reverb().setWetDryMix(mix);
        const Stereo out = renderGraph(wet, 48000 * 6);
        EXPECT_NEAR(rms(out.left, 48000 * 3) / (0.5 / std::sqrt(3.0)), ratio, 0.05 * ratio) << mix;
    }
}

TEST(EffectUnits, AnOverflowedBlockLeavesNoLastingNaN) {
    // One block of infinity and NaN, then a sine: every unit must be clean again.
    AudioGraph g;
    setEffects(g, true);  // every unit in the path
    g.setSource(
        [](void*, float* left, float* right, int frames) {
            std::fill_n(left, frames, std::numeric_limits<float>::infinity());
            std::fill_n(right, frames, std::numeric_limits<float>::quiet_NaN());
        },
        nullptr);
    g.prepare();
    renderGraph(g, AudioGraph::kBlockFrames);
    SineSource sine{440.0, 0.5f};
    g.setSource(sine);
    renderGraph(g, 48000 - 4800);  // the delay hears its poison again at 0.45 s
    const Stereo end = renderGraph(g, 4800);
    EXPECT_TRUE(allFinite(end));
    EXPECT_GT(rms(end.left), 0.03);  // 0.08 when never poisoned, 0 if a unit stayed silent
}

TEST(EffectUnits, SwitchingFiltersDoesNotClick) {
    // The bypass crossfade and the frequency glide keep every step near a low sine's own.
    AudioGraph g;
    SineSource sine{100.0, 0.5f};
    prepare(g, sine);
    renderGraph(g, 4800);
    StepMeter meter;
    meter.previous = renderGraph(g, 1).left[0];
    meter.add(renderGraph(g, 960));
    const double steady = meter.largest;
    EqUnit &lp = g.lowpass(), &hp = g.highpass();
    for (auto [lowHz, lowOn, highOn] :
         {std::tuple{100.0f, true, false}, {22000.0f, false, true}, {22000.0f, false, false}}) {
        lp.setFrequency(lowHz);
        lp.setBypass(!lowOn);
        hp.setFrequency(2000.0f);
        hp.setBypass(!highOn);
        meter.add(renderGraph(g, 9600));
    }
    EXPECT_LT(meter.largest, 3.0 * steady);
}

TEST(EffectUnits, DryUnitsDrainThenSleepAndComeBackClean) {
    AudioGraph g;
    NoiseSource noise{0.5f};
    prepare(g, noise);
    DelayUnit& delay = g.delay();
    ReverbUnit& reverb = g.reverb();
    renderGraph(g, 64);  // in their start settings every unit is idle
    EXPECT_TRUE(g.lowpass().idle() && g.highpass().idle() && delay.idle() && reverb.idle());

    delay.setFeedback(50.0f);
    delay.setWetDryMix(50.0f);
    reverb.setWetDryMix(50.0f);
    renderGraph(g, 24000);
    delay.setWetDryMix(0.0f);
    reverb.setWetDryMix(0.0f);
    renderGraph(g, 960);  // the mixes ramp down
    // Dry, the units take no more input and go idle once their echoes and tail have died away
    // (a delay time, the cathedral's 12 s to -120 dB); the output is the source to the bit
    // throughout, so leaving the path cannot click.
    NoiseSource copy = noise;
    int blocks = 0;
    bool exact = true;
    for (; !(delay.idle() && reverb.idle()) && blocks < 48000 * 30 / 64; ++blocks) {
        Stereo out = renderGraph(g, 64), in{std::vector<float>(64), std::vector<float>(64)};
        copy.renderAudio(in.left.data(), in.right.data(), 64);
        exact = exact && out.left == in.left && out.right == in.right;
    }
    EXPECT_TRUE(exact);
    EXPECT_TRUE(delay.idle() && reverb.idle());
    EXPECT_GT(blocks, 48000 * 3 / 64);

    // The next block skips them and clears what is left below hearing; back in the path they
    // start clean: nothing of the old sound comes back.
    renderGraph(g, 64);
    noise.amplitude = 0.0f;
    delay.setWetDryMix(100.0f);
    reverb.setWetDryMix(100.0f);
    const Stereo back = renderGraph(g, 48000);
    EXPECT_FALSE(delay.idle() || reverb.idle());
    EXPECT_EQ(rms(back.left) + rms(back.right), 0.0);
}

#ifdef VORNIK_HAS_MXCSR
TEST(EffectUnits, RenderFlushesDenormalsAndRestoresTheCallersMode) {
    AudioGraph g;
    static unsigned seen = 0;
    g.setSource(
        [](void*, float* l, float* r, int n) {
            seen = _mm_getcsr();
            std::fill_n(l, n, 0.0f);
            std::fill_n(r, n, 0.0f);
        },
        nullptr);
    g.prepare();
    const unsigned before = _mm_getcsr();
    renderGraph(g, 100);
    EXPECT_EQ(_mm_getcsr(), before);
    const unsigned flags =
        ScopedDenormalFlush::kFlushToZero | ScopedDenormalFlush::kDenormalsAreZero;
    EXPECT_EQ(seen & flags, flags);
}
#endif
