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

// The gain in dB of the graph at `hz`, with its settings as they stand: 0.2 s to settle, then
// 0.5 s measured.
double gainAt(AudioGraph& g, double hz) {
    SineSource sine{hz, 0.5f};
    g.setSource(sine);
    g.prepare();
    const Stereo out = renderGraph(g, 48000 * 7 / 10);
    const double in = 0.5 / std::sqrt(2.0);
    return decibels(rms(out.left, 9600) / in);
}

AudioGraph& filterOnly(AudioGraph& g, FilterType type, float hz) {
    setInaudible(g);
    EqUnit& eq = type == FilterType::kLowPass ? g.lowpass() : g.highpass();
    eq.setFrequency(hz);
    eq.setBypass(false);
    return g;
}

bool allFinite(const Stereo& s) {
    auto finite = [](float x) { return std::isfinite(x); };
    return std::all_of(s.left.begin(), s.left.end(), finite) &&
           std::all_of(s.right.begin(), s.right.end(), finite);
}

}  // namespace

TEST(EffectUnits, ButterworthResponse) {
    AudioGraph g;
    // Low-pass at 2,850 Hz (the filter control at 0.5): -3.01 dB at the cutoff (+-0.1), about
    // -12 dB an octave above (-12.9 after the bilinear warp, +-0.5), 0 dB well below (+-0.1).
    filterOnly(g, FilterType::kLowPass, 2850.0f);
    EXPECT_NEAR(gainAt(g, 2850.0), -3.01, 0.1);
    EXPECT_NEAR(gainAt(g, 5700.0), -12.9, 0.5);
    EXPECT_NEAR(gainAt(g, 200.0), 0.0, 0.1);

    // High-pass at 2,750 Hz (the control at 1.5), mirrored: -12.4 an octave below.
    AudioGraph h;
    filterOnly(h, FilterType::kHighPass, 2750.0f);
    EXPECT_NEAR(gainAt(h, 2750.0), -3.01, 0.1);
    EXPECT_NEAR(gainAt(h, 1375.0), -12.4, 0.5);
    EXPECT_NEAR(gainAt(h, 15000.0), 0.0, 0.1);
}

TEST(EffectUnits, FilterFrequenciesOutsideTheBiquadsRangeAreClamped) {
    AudioGraph g;
    EqUnit& hp = filterOnly(g, FilterType::kHighPass, 0.0f).highpass();
    EXPECT_NEAR(gainAt(g, 1000.0), 0.0, 0.05);  // a high-pass at 0 Hz passes everything
    EXPECT_EQ(hp.frequency(), 0.0f);            // as set
    EXPECT_EQ(hp.runningFrequency(), EqUnit::kLowestFrequency);

    hp.setFrequency(0.011f);  // the filter control at 1.001
    EXPECT_NEAR(gainAt(g, 1000.0), 0.0, 0.05);
    EXPECT_EQ(hp.frequency(), 0.011f);

    EqUnit& lp = filterOnly(g, FilterType::kLowPass, 1.0e6f).lowpass();
    EXPECT_NEAR(gainAt(g, 1000.0), 0.0, 0.05);
    EXPECT_EQ(lp.frequency(), 1.0e6f);
    EXPECT_DOUBLE_EQ(lp.runningFrequency(), EqUnit::kHighestFraction * 48000.0);

    // Whatever arrives while running, the output stays finite.
    NoiseSource noise;
    g.setSource(noise);
    for (float hz : {0.0f, -50.0f, 1.0e9f, std::numeric_limits<float>::quiet_NaN(),
                     std::numeric_limits<float>::infinity(), 24000.0f, 0.011f}) {
        lp.setFrequency(hz);
        lp.setFilterType(lp.filterType() == FilterType::kLowPass ? FilterType::kHighPass
                                                                 : FilterType::kLowPass);
        EXPECT_TRUE(allFinite(renderGraph(g, 4800))) << hz;
    }
}

TEST(EffectUnits, DelayEchoesAtTheSetTimeWithTheFeedbackPerRepeat) {
    for (double seconds : {0.05, 1.05, 2.05}) {
        AudioGraph g;
        ImpulseSource impulse;
        g.setSource(impulse);
        setInaudible(g);
        g.delay().setDelayTime(seconds);
        g.delay().setFeedback(50.0f);
        g.delay().setWetDryMix(100.0f);
        g.prepare();
        const int t = static_cast<int>(std::lround(seconds * 48000.0));
        const Stereo out = renderGraph(g, 3 * t + 200);

        // Nothing before the first echo; each echo peaks at its time. The echo path's low-pass
        // keeps the sum of an echo (its gain at 0 Hz is 1), so sums go down by exactly the
        // feedback per repeat (+-1e-4).
        EXPECT_EQ(rms(out.left, 0, static_cast<std::size_t>(t)), 0.0) << seconds;
        for (int k = 1; k <= 3; ++k) {
            const auto from = out.left.begin() + (k * t - 20);
            const auto peak = std::max_element(from, from + 100);
            EXPECT_EQ(peak - out.left.begin(), k * t) << seconds << " echo " << k;
            double sum = 0.0;
            for (auto it = from; it != from + 150; ++it) sum += *it;
            EXPECT_NEAR(sum, std::pow(0.5, k - 1), 1e-4) << seconds << " echo " << k;
        }
    }
}

TEST(EffectUnits, DelayTimeChangesWhileEchoesRingStayInsideAndDoNotClick) {
    AudioGraph g;
    SineSource sine{437.0, 0.25f};  // not a whole number of cycles in any of the times below
    g.setSource(sine);
    setInaudible(g);
    DelayUnit& d = g.delay();
    d.setFeedback(50.0f);
    d.setWetDryMix(100.0f);
    g.prepare();
    renderGraph(g, 48000 * 3);  // the whole line rings with a steady tone

    // A steady ring moves at most 2 pi 437 / 48000 (0.057) x its peak per frame; a hard jump
    // from one read position to another moves up to twice the peak.
    double peak = 0.0, largestStep = 0.0;
    float previous = renderGraph(g, 1).left[0];
    for (double seconds : {2.05, 0.05, 1.05, 0.0, 10.0, 0.45, 2.05, 0.3}) {
        d.setDelayTime(seconds);
        const Stereo out = renderGraph(g, 4800);
        for (float x : out.left) {
            ASSERT_TRUE(std::isfinite(x));
            peak = std::max(peak, double{std::fabs(x)});
            largestStep = std::max(largestStep, double{std::fabs(x - previous)});
            previous = x;
        }
    }
    EXPECT_GT(peak, 0.1);
    EXPECT_LT(largestStep, 0.1 * peak);

    // Times beyond the line are kept as set and run at the longest it holds; 0 s runs at one
    // frame.
    d.setDelayTime(10.0);
    renderGraph(g, 9600);
    EXPECT_EQ(d.delayTime(), 10.0);
    EXPECT_EQ(d.runningDelayFrames(), static_cast<int>(DelayUnit::kLongestTime * 48000));
    d.setDelayTime(0.0);
    renderGraph(g, 9600);
    EXPECT_EQ(d.runningDelayFrames(), 1);
    d.setDelayTime(0.25);
    renderGraph(g, 9600);
    d.setDelayTime(std::numeric_limits<double>::quiet_NaN());  // not a time: keeps the last
    renderGraph(g, 9600);
    EXPECT_EQ(d.runningDelayFrames(), 12000);
}

TEST(EffectUnits, DelayAtFullFeedbackStaysBounded) {
    // The control's top (feedback 100 %) with sound that keeps coming: the loop gain is held
    // under one, so the echoes settle instead of piling up without end.
    AudioGraph g;
    NoiseSource noise{0.25f};
    g.setSource(noise);
    setInaudible(g);
    g.delay().setDelayTime(0.05);
    g.delay().setFeedback(100.0f);
    g.delay().setWetDryMix(100.0f);
    g.prepare();
    const Stereo out = renderGraph(g, 48000 * 20);
    EXPECT_TRUE(allFinite(out));
    const double early = rms(out.left, 48000 * 4, 48000 * 5);
    const double late = rms(out.left, 48000 * 19);
    EXPECT_LT(late, 1.5 * early);
    EXPECT_LT(late, 5.0);
}

TEST(EffectUnits, ReverbTailDecaysOverSecondsAndStaysFinite) {
    AudioGraph g;
    NoiseSource noise{0.5f};
    g.setSource(noise);
    setInaudible(g);
    g.reverb().setWetDryMix(100.0f);
    g.prepare();
    renderGraph(g, 4800);  // a 0.1 s burst
    noise.amplitude = 0.0f;
    const Stereo tail = renderGraph(g, 48000 * 8);
    EXPECT_TRUE(allFinite(tail));

    // The cathedral: decay to -60 dB in 3 to 9 s, measured from the slope between 0.5-1 s and
    // 3-3.5 s after the burst; still there after 2 s; left and right decorrelated.
    const double early = rms(tail.left, 24000, 48000);
    const double late = rms(tail.left, 144000, 168000);
    const double dbPerSecond = decibels(early / late) / 2.5;
    EXPECT_GT(60.0 / dbPerSecond, 3.0);
    EXPECT_LT(60.0 / dbPerSecond, 9.0);
    EXPECT_GT(rms(tail.left, 96000, 120000), 0.01 * early);
    double lr = 0.0, ll = 0.0, rr = 0.0;
    for (std::size_t i = 24000; i < 96000; ++i) {
        lr += double{tail.left[i]} * tail.right[i];
        ll += double{tail.left[i]} * tail.left[i];
        rr += double{tail.right[i]} * tail.right[i];
    }
    EXPECT_LT(std::fabs(lr) / std::sqrt(ll * rr), 0.3);
    EXPECT_NEAR(rms(tail.right, 24000, 48000) / early, 1.0, 0.25);

    // With denormals flushed the tail ends in exact zeros (about -760 dB, 70 s on) instead of
    // walking on through subnormal numbers.
    const Stereo end = renderGraph(g, 48000 * 75);
    const auto subnormal = [](float x) { return std::fpclassify(x) == FP_SUBNORMAL; };
    EXPECT_TRUE(std::none_of(end.left.begin(), end.left.end(), subnormal));
    EXPECT_EQ(end.left.back(), 0.0f);
    EXPECT_EQ(end.right.back(), 0.0f);

    // Every preset decays and stays finite; other numbers are refused.
    for (int preset = 0; preset < ReverbUnit::kPresetCount; ++preset) {
        ASSERT_TRUE(g.reverb().loadFactoryPreset(preset));
        noise.amplitude = 0.5f;
        renderGraph(g, 4800);
        noise.amplitude = 0.0f;
        const Stereo t = renderGraph(g, 48000 * 2);
        EXPECT_TRUE(allFinite(t)) << preset;
        EXPECT_LT(rms(t.left, 72000), rms(t.left, 0, 24000)) << preset;
    }
    EXPECT_FALSE(g.reverb().loadFactoryPreset(13));
    EXPECT_FALSE(g.reverb().loadFactoryPreset(-1));
    EXPECT_EQ(g.reverb().factoryPreset(), ReverbUnit::kPresetCount - 1);
}

TEST(EffectUnits, BypassAndDryAreBitIdentical) {
    AudioGraph g;
    NoiseSource noise;
    g.setSource(noise);
    setInaudible(g);
    g.prepare();
    NoiseSource reference;
    auto expectExact = [&](int frames, const char* when) {
        const Stereo out = renderGraph(g, frames);
        Stereo in{std::vector<float>(out.left.size()), std::vector<float>(out.right.size())};
        reference.renderAudio(in.left.data(), in.right.data(), frames);
        EXPECT_EQ(out.left, in.left) << when;
        EXPECT_EQ(out.right, in.right) << when;
    };
    expectExact(48000, "at start");

    // Everything on for a while, then off again: once the fades are over, exact again.
    setAllOn(g);
    Stereo on = renderGraph(g, 24000);
    reference.frame += 24000;
    EXPECT_NE(on.left, std::vector<float>(24000, 0.0f));
    setInaudible(g);
    renderGraph(g, 4800);
    reference.frame += 4800;
    expectExact(48000, "after switching off");

    // The band's own bypass passes the input too, with the unit in the path.
    g.lowpass().setBypass(false);
    g.lowpass().setBandBypass(true);
    g.lowpass().setFrequency(300.0f);
    renderGraph(g, 4800);
    reference.frame += 4800;
    expectExact(9600, "band bypassed");
}

TEST(EffectUnits, SwitchingEffectsDoesNotClick) {
    // A low 100 Hz sine; the filter control jumps from open to 100 Hz and back, the delay and
    // reverb go from dry to wet. The bypass crossfade and the frequency glide keep every step
    // between frames far below a jump.
    AudioGraph g;
    SineSource sine{100.0, 0.5f};
    g.setSource(sine);
    setInaudible(g);
    g.prepare();
    renderGraph(g, 4800);
    double largestStep = 0.0;
    float previous = 0.0f;
    auto run = [&](int frames) {
        const Stereo out = renderGraph(g, frames);
        for (float x : out.left) {
            largestStep = std::max(largestStep, double{std::fabs(x - previous)});
            previous = x;
        }
    };
    previous = renderGraph(g, 1).left[0];
    run(960);
    const double steady = largestStep;  // 2 pi 100 / 48000 x 0.5 = 0.0065
    g.lowpass().setFrequency(100.0f);
    g.lowpass().setBypass(false);
    run(9600);
    g.lowpass().setFrequency(22000.0f);
    run(9600);
    g.lowpass().setBypass(true);
    g.highpass().setFrequency(2000.0f);
    g.highpass().setBypass(false);
    run(9600);
    g.highpass().setBypass(true);
    run(9600);
    EXPECT_LT(largestStep, 3.0 * steady);
}

TEST(EffectUnits, RenderingIsTheSameWhateverTheCallSizes) {
    // Two graphs, the same stream, one pulled in one call and one in ragged calls: every
    // unit keeps its state across blocks, in place, and the graph pulls in 64-frame blocks.
    AudioGraph a, b;
    NoiseSource na, nb;
    a.setSource(na);
    b.setSource(nb);
    setAllOn(a);
    setAllOn(b);
    a.prepare();
    b.prepare();
    const int total = 30000;
    const Stereo whole = renderGraph(a, total);
    Stereo parts{std::vector<float>(total), std::vector<float>(total)};
    int done = 0;
    for (int n : {1, 63, 64, 65, 1000, 7, 4096, 333}) {
        b.render(parts.left.data() + done, parts.right.data() + done, n);
        done += n;
    }
    b.render(parts.left.data() + done, parts.right.data() + done, total - done);
    EXPECT_EQ(whole.left, parts.left);
    EXPECT_EQ(whole.right, parts.right);
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
    EXPECT_EQ(seen & ScopedDenormalFlush::kFlushToZero, ScopedDenormalFlush::kFlushToZero);
    EXPECT_EQ(seen & ScopedDenormalFlush::kDenormalsAreZero,
              ScopedDenormalFlush::kDenormalsAreZero);
}
#endif
